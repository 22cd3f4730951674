// The wire below AppSession (app_session.hpp): the connection attempt, the line reader and
// the framing of one message. Outside appclient/, only tests and fuzz targets include this,
// to play a client that misbehaves or to read an answer by hand; product code talks through
// AppSession, which keeps the message ids.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/deadline.hpp"
#include "common/json.hpp"
#include "common/unique_fd.hpp"

namespace kestrum {

enum class RpcError {
  Connect,   // no app of ours there: no socket, nobody listening, or another user's
  Io,        // the connection broke or carried bytes that are not text
  Timeout,   // the deadline passed, or a held signal ended the wait
  Protocol,  // the app said something that is not an answer
};

std::string_view to_string(RpcError error);

// A longer line is refused (`Protocol`), so that an app that streams bytes without a line
// feed cannot grow the hook's memory for the whole wait. The largest answers are a
// prompt's extra context, which is of no use beyond what the model's context holds (about
// a million tokens, 4 MiB of text), and a registration's words and environment, which
// one program start bounds far below that (1 MiB on macOS, 2 MiB on Linux by default).
inline constexpr std::size_t kMaxLineBytes = 4 * 1024 * 1024;

// Far more values than any answer holds, and few enough to build in a few megabytes: a
// line below kMaxLineBytes of tiny values would otherwise cost hundreds of megabytes.
inline constexpr std::size_t kMaxAnswerValues = 64 * 1024;

class AppConnection {
 public:
  // Reading keeps the socket, writing a close-on-exec duplicate of it numbered 3 or above,
  // so that each side is one owned descriptor.
  static std::expected<AppConnection, RpcError> over(UniqueFd socket);

  int read_fd() const { return read_.get(); }
  int write_fd() const { return write_.get(); }

  // One line of valid UTF-8, the line feed included (a last line may lack it). Every
  // receive is bounded by the time left, so the deadline bounds the whole line.
  std::expected<std::string, RpcError> read_line(Clock::time_point deadline);

 private:
  static constexpr std::size_t kBufferBytes = 8192;

  AppConnection(UniqueFd read_side, UniqueFd write_side);

  // Receives into the empty buffer; 0 bytes at the end of the stream.
  std::expected<std::size_t, RpcError> fill(Clock::time_point deadline);

  UniqueFd read_;
  UniqueFd write_;
  std::string buffer_;     // kBufferBytes long once the first receive happens
  std::size_t start_ = 0;  // received but not yet handed out: [start_, end_)
  std::size_t end_ = 0;
};

// `Connect` also when another user serves the socket.
std::expected<UniqueFd, RpcError> connect_with_timeout(const std::filesystem::path& socket_path,
                                                       std::chrono::nanoseconds limit);

// A request (with `id`) or a notification, written straight from `params` without first
// copying them into a message value: tool inputs can be megabytes.
std::expected<void, RpcError> send_message(AppConnection& connection,
                                           std::optional<std::uint64_t> id, std::string_view method,
                                           const Json& params, Clock::time_point deadline);

// The "result" of the first answer whose "id" is the unsigned integer `id`; lines before it
// (the app's own messages, other answers) are skipped.
std::expected<Json, RpcError> read_answer(AppConnection& connection, std::uint64_t id,
                                          Clock::time_point deadline);

}  // namespace kestrum
