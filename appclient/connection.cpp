#include "appclient/connection.hpp"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/local_socket.hpp"
#include "common/own_user.hpp"
#include "common/signal_wait.hpp"
#include "common/utf8.hpp"

namespace kestrum {
namespace {

std::optional<sockaddr_un> local_address(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& bytes = path.native();
  // The terminating NUL must fit too.
  if (bytes.empty() || bytes.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, bytes.data(), bytes.size());
  return address;
}

bool is_timeout(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT || error == EINPROGRESS;
}

std::expected<UniqueFd, RpcError> served_by_own_user(UniqueFd socket) {
  if (!peer_is_own_user(socket.get())) return std::unexpected(RpcError::Connect);
  return socket;
}

// Sets SO_SNDTIMEO to `left`, but never below 1 ms: a zero timeout would mean "wait for
// ever".
bool set_send_timeout(int fd, Clock::duration left) {
  using std::chrono::microseconds;
  const microseconds whole =
      std::max(std::chrono::duration_cast<microseconds>(left), microseconds(1000));
  timeval tv{};
  tv.tv_sec = static_cast<decltype(tv.tv_sec)>(whole.count() / 1'000'000);
  tv.tv_usec = static_cast<decltype(tv.tv_usec)>(whole.count() % 1'000'000);
  return ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

bool would_block(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

// A wait for the socket, by the deadline; a held signal ends it as a deadline would
// (common/signal_wait.hpp).
std::expected<void, RpcError> wait_for(int fd, WaitFor what, Clock::time_point deadline) {
  switch (wait_until_ready(fd, what, deadline)) {
    case Readiness::Ready:
    case Readiness::AtEnd:
      return {};
    case Readiness::Signalled:
    case Readiness::TimedOut:
      return std::unexpected(RpcError::Timeout);
    case Readiness::Failed:
      break;
  }
  return std::unexpected(RpcError::Io);
}

// Sends what fits at once and waits only for room, so that a small message costs one call
// and a slowly reading app cannot stretch the deadline.
std::expected<void, RpcError> send_all(AppConnection& connection, std::string_view bytes,
                                       Clock::time_point deadline) {
  while (!bytes.empty()) {
    const ssize_t sent = send_without_waiting(connection.write_fd(), bytes.data(), bytes.size());
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent == 0 || !would_block(errno)) return std::unexpected(RpcError::Io);
    if (auto room = wait_for(connection.write_fd(), WaitFor::Writing, deadline); !room) return room;
  }
  return {};
}

bool matches_id(const Json& line, std::uint64_t id) {
  const Json* value = member(line, "id");
  return value && value->is_number_unsigned() && value->get<std::uint64_t>() == id;
}

// The line's one value; `Protocol` when it is none or holds more than kMaxAnswerValues,
// `Timeout` when building it outlasts the deadline.
std::expected<Json, RpcError> parse_answer_line(std::string_view line, Clock::time_point deadline) {
  auto value = parse_json(line, JsonBudget{kMaxAnswerValues, deadline});
  if (value) return std::move(*value);
  return std::unexpected(value.error() == JsonFailure::PastDeadline ? RpcError::Timeout
                                                                    : RpcError::Protocol);
}

}  // namespace

std::string_view to_string(RpcError error) {
  switch (error) {
    case RpcError::Connect:
      return "Connect";
    case RpcError::Io:
      return "Io";
    case RpcError::Timeout:
      return "Timeout";
    case RpcError::Protocol:
      return "Protocol";
  }
  return "Io";
}

// The connection attempt is bounded by the socket's send timeout rather than by a thread
// that gives up on it: a local connect only waits while the listener's backlog is full, and Linux
// bounds that wait by SO_SNDTIMEO. This costs one system call instead of a thread start on every
// hook run, and no late connection can outlive the caller.
// A macOS local connect never waits: with a full backlog it fails at once with
// ECONNREFUSED, so the caller sees Connect where Linux reports Timeout. Both fall back
// the same way; only the launcher's notice differs.
// A socket served by another user is no app of ours: nothing may be sent to it, the app's
// token least of all, and nothing it says may be believed. It fails as an app that is not
// there does, so that every caller's answer for that case applies.
std::expected<UniqueFd, RpcError> connect_with_timeout(const std::filesystem::path& socket_path,
                                                       std::chrono::nanoseconds limit) {
  const Clock::time_point deadline = deadline_after(limit);
  // Once a held signal has ended a wait, nothing new is begun (common/signal_wait.hpp).
  if (signal_noticed()) return std::unexpected(RpcError::Timeout);
  const auto address = local_address(socket_path);
  if (!address) return std::unexpected(RpcError::Connect);
  UniqueFd socket = open_local_socket();
  if (!socket) return std::unexpected(RpcError::Connect);

  for (;;) {
    const auto left = time_left(deadline);
    if (!left) return std::unexpected(RpcError::Timeout);
    if (!set_send_timeout(socket.get(), *left)) {
      return std::unexpected(RpcError::Connect);
    }
    // The sockets API takes the generic address type.
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) ==
        0) {
      return served_by_own_user(std::move(socket));
    }
    const int error = errno;
    if (error == EINTR) continue;  // an interrupted wait; the attempt goes on
    if (error == EISCONN) return served_by_own_user(std::move(socket));
    if (is_timeout(error)) return std::unexpected(RpcError::Timeout);
    return std::unexpected(RpcError::Connect);
  }
}

// Each side is one owned descriptor, so neither borrows the other's. The duplicate is
// close-on-exec like the socket, so that no child the hook starts inherits a line to the
// app, and it is numbered 3 or above, so that it can never take the place of a standard
// descriptor a caller closed. Both timeouts belong to the socket, not to a descriptor, so
// the two sides share them; the cost is one fcntl per conversation.
std::expected<AppConnection, RpcError> AppConnection::over(UniqueFd socket) {
  UniqueFd write_side(::fcntl(socket.get(), F_DUPFD_CLOEXEC, 3));
  if (!write_side) return std::unexpected(RpcError::Io);
  return AppConnection(std::move(socket), std::move(write_side));
}

AppConnection::AppConnection(UniqueFd read_side, UniqueFd write_side)
    : read_(std::move(read_side)), write_(std::move(write_side)) {}

std::expected<std::size_t, RpcError> AppConnection::fill(Clock::time_point deadline) {
  if (buffer_.empty()) buffer_.resize(kBufferBytes);
  start_ = end_ = 0;
  for (;;) {
    if (auto ready = wait_for(read_.get(), WaitFor::Reading, deadline); !ready) {
      return std::unexpected(ready.error());
    }
    const ssize_t got = ::recv(read_.get(), buffer_.data(), buffer_.size(), MSG_DONTWAIT);
    if (got >= 0) {
      end_ = static_cast<std::size_t>(got);
      return end_;
    }
    if (errno == EINTR || would_block(errno)) continue;
    return std::unexpected(RpcError::Io);
  }
}

std::expected<std::string, RpcError> AppConnection::read_line(Clock::time_point deadline) {
  std::string line;
  for (;;) {
    if (start_ < end_) {
      const char* begin = buffer_.data() + start_;
      const std::size_t available = end_ - start_;
      const auto* feed = static_cast<const char*>(std::memchr(begin, '\n', available));
      const std::size_t take = feed ? static_cast<std::size_t>(feed - begin) + 1 : available;
      if (line.size() + take > kMaxLineBytes) return std::unexpected(RpcError::Protocol);
      line.append(begin, take);
      start_ += take;
      if (feed) break;
    }
    const auto got = fill(deadline);
    if (!got) return std::unexpected(got.error());
    if (*got == 0) {
      if (line.empty()) return std::unexpected(RpcError::Io);
      break;  // a last line without a line feed counts like any other
    }
  }
  if (!is_valid_utf8(line)) return std::unexpected(RpcError::Io);
  return line;
}

std::expected<void, RpcError> send_message(AppConnection& connection,
                                           std::optional<std::uint64_t> id, std::string_view method,
                                           const Json& params, Clock::time_point deadline) {
  if (!time_left(deadline)) return std::unexpected(RpcError::Timeout);
  // Members in name order.
  std::string bytes = "{";
  if (id) bytes += "\"id\":" + std::to_string(*id) + ",";
  bytes += "\"jsonrpc\":\"2.0\",\"method\":";
  append_compact(Json(std::string(method)), bytes);
  bytes += ",\"params\":";
  append_compact(params, bytes);
  bytes += "}\n";
  return send_all(connection, bytes, deadline);
}

std::expected<Json, RpcError> read_answer(AppConnection& connection, std::uint64_t id,
                                          Clock::time_point deadline) {
  for (;;) {
    if (!time_left(deadline)) return std::unexpected(RpcError::Timeout);
    const auto line = connection.read_line(deadline);
    if (!line) return std::unexpected(line.error());
    auto value = parse_answer_line(*line, deadline);
    if (!value) return std::unexpected(value.error());
    if (!matches_id(*value, id)) continue;  // the app's own messages, or other answers
    if (value->contains("error")) return std::unexpected(RpcError::Protocol);
    const auto result = value->find("result");
    if (result == value->end()) return std::unexpected(RpcError::Protocol);
    return std::move(*result);
  }
}

}  // namespace kestrum
