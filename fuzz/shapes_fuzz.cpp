// Profile names, the UTF-8 helpers, skip-marker texts and instance socket shapes.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/utf8.hpp"
#include "fuzz/check.hpp"
#include "hook/ownership/skip_marker.hpp"
#include "hook/ownership/socket_shape.hpp"
#include "profile/profile.hpp"

namespace {

void check_profile(std::string_view name) {
  const auto profile = kestrum::Profile::create(name);
  if (!profile) return;
  FUZZ_CHECK(!profile->name().empty() && profile->name().size() <= 12);
  for (char c : profile->name()) {
    FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-');
  }
}

void check_utf8(std::string_view bytes) {
  const std::string lossy = kestrum::to_utf8_lossy(bytes);
  FUZZ_CHECK(kestrum::is_valid_utf8(lossy));
  if (kestrum::is_valid_utf8(bytes)) FUZZ_CHECK(lossy == bytes);
  const std::string_view trimmed = kestrum::trim_unicode_whitespace(lossy);
  FUZZ_CHECK(kestrum::is_valid_utf8(trimmed));
  FUZZ_CHECK(kestrum::trim_unicode_whitespace(trimmed) == trimmed);
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < lossy.size(); ++count) kestrum::next_code_point(lossy, pos);
  FUZZ_CHECK(kestrum::utf8_prefix_length(lossy, count) == lossy.size());
}

void check_marker(std::string_view text, std::string_view socket) {
  // A marker this system writes is read back as the same process id.
  const std::uint32_t pid = static_cast<std::uint32_t>(text.size() * 7919u);
  FUZZ_CHECK(kestrum::ownership::recorded_pid(kestrum::ownership::skip_marker_text(pid, socket),
                                              socket) == pid);
  if (kestrum::ownership::recorded_pid(text, socket)) FUZZ_CHECK(kestrum::is_valid_utf8(text));
}

void check_socket(std::string_view text) {
  const std::filesystem::path socket{std::string(text)};
  FUZZ_CHECK(kestrum::ownership::same_socket_path(socket, socket));
  if (!kestrum::ownership::is_instance_socket(socket)) return;
  FUZZ_CHECK(socket.is_absolute());
  const std::filesystem::path token = kestrum::ownership::token_path_beside(socket);
  FUZZ_CHECK(token.extension() == ".token");
  // "run/./x.sock" names the same file as "run/x.sock", and its token lies beside it.
  FUZZ_CHECK(token.lexically_normal().parent_path().filename() == "run");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view first = input.substr(0, split);
  const std::string_view second =
      split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
  check_profile(first);
  check_utf8(input);
  if (kestrum::is_valid_utf8(second)) check_marker(first, second);
  check_socket(first);
  return 0;
}
