// Whatever an app writes back, read through a real socket pair with a short deadline.
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "appclient/connection.hpp"
#include "common/fd_io.hpp"
#include "common/json.hpp"
#include "fuzz/check.hpp"

namespace {

using kestrum::Json;
constexpr std::uint64_t kId = 2;
// Kept within what a socket pair buffers, so that the whole input is written before reading.
constexpr std::size_t kMaxInput = 64 * 1024;

// Some line of the input is an answer with this id, and `result` is its "result".
bool is_result_of_some_line(std::string_view input, const Json& result) {
  for (std::size_t start = 0; start <= input.size();) {
    std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) end = input.size();
    if (const auto value = kestrum::parse_json(input.substr(start, end - start))) {
      const Json* id = kestrum::member(*value, "id");
      const Json* found = kestrum::member(*value, "result");
      if (id && id->is_number_unsigned() && id->get<std::uint64_t>() == kId && found &&
          *found == result) {
        return true;
      }
    }
    start = end + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return 0;
  kestrum::UniqueFd ours(fds[0]);
  {
    kestrum::UniqueFd app(fds[1]);
    int buffer = static_cast<int>(2 * kMaxInput);
    ::setsockopt(app.get(), SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(ours.get(), SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (!kestrum::write_all(app.get(), input)) return 0;
  }  // the app closes: the reader sees the end of the stream
  auto connection = kestrum::AppConnection::over(std::move(ours));
  if (!connection) return 0;
  const auto deadline = kestrum::Clock::now() + std::chrono::milliseconds(200);
  const auto answer = kestrum::read_answer(*connection, kId, deadline);
  if (answer) FUZZ_CHECK(is_result_of_some_line(input, *answer));
  return 0;
}
