#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "appclient/answer_line.hpp"
#include "appclient/connection.hpp"
#include "common/local_socket.hpp"
#include "common/signal_wait.hpp"
#include "common/utf8.hpp"

namespace kestrum {
namespace {

bool would_block(int error) {
  return error == EAGAIN || error == EWOULDBLOCK;
}

// A wait for the socket, by the deadline; a held signal ends it as a deadline would
// (common/signal_wait.hpp).
std::expected<void, RpcError> wait_for(int fd, bool for_writing, Clock::time_point deadline) {
  switch (wait_until_ready(fd, for_writing, deadline)) {
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
    if (auto room = wait_for(connection.write_fd(), true, deadline); !room) return room;
  }
  return {};
}

bool matches_id(const Json& line, std::uint64_t id) {
  const Json* value = member(line, "id");
  return value && value->is_number_unsigned() && value->get<std::uint64_t>() == id;
}

}  // namespace

AppConnection::AppConnection(UniqueFd read_side, UniqueFd write_side)
    : read_(std::move(read_side)), write_(std::move(write_side)) {}

std::expected<std::size_t, RpcError> AppConnection::fill(Clock::time_point deadline) {
  if (buffer_.empty()) buffer_.resize(kBufferBytes);
  start_ = end_ = 0;
  for (;;) {
    if (auto ready = wait_for(read_.get(), false, deadline); !ready) {
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
