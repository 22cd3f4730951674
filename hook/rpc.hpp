// The client of the app's local socket: connect, greet, one request or notification, close.
// Every wait is bounded by the caller's deadline; nothing is retried.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "hook/event_table.hpp"
#include "hook/json.hpp"
#include "hook/unique_fd.hpp"

namespace kestrum {

using Clock = std::chrono::steady_clock;

enum class RpcError { Connect, Io, Timeout, Protocol };

// "Connect", "Io", "Timeout" or "Protocol".
std::string_view to_string(RpcError error);

// A greeted connection: reads through an 8,192-byte buffer from the socket, writes to a
// close-on-exec duplicate of it. Both descriptors close with it.
class AppConnection {
 public:
  AppConnection(UniqueFd read_side, UniqueFd write_side);
  int read_fd() const { return read_.get(); }
  int write_fd() const { return write_.get(); }

  // One line, the line feed included (a last line may lack it).
  std::expected<std::string, RpcError> read_line(Clock::time_point deadline);

 private:
  UniqueFd read_;
  UniqueFd write_;
  std::string buffer_;     // bytes received but not yet handed out
  std::size_t start_ = 0;  // first unread byte of buffer_
};

std::expected<UniqueFd, RpcError> connect_with_timeout(const std::filesystem::path& socket_path,
                                                       std::chrono::nanoseconds limit);

// Sends "hello" (id 1) and checks the answer declares protocol version 0.
std::expected<AppConnection, RpcError> greet(UniqueFd socket, const Json& hello,
                                             Clock::time_point deadline);

std::expected<void, RpcError> send_message(AppConnection& connection, const Json& message,
                                           Clock::time_point deadline);

// The "result" of the first answer whose "id" is the unsigned integer `id`.
std::expected<Json, RpcError> read_answer(AppConnection& connection, std::uint64_t id,
                                          Clock::time_point deadline);

Json make_request(std::uint64_t id, std::string_view method, const Json& params);
Json make_notification(std::string_view method, const Json& params);

// For a request the answer's "result"; for a notification nothing once the line is written.
std::expected<std::optional<Json>, RpcError> rpc_exchange(UniqueFd socket, const Json& hello,
                                                          std::string_view method,
                                                          Delivery delivery, const Json& params,
                                                          Clock::time_point deadline);

// The whole conversation, bounded by one deadline fixed before connecting.
std::expected<std::optional<Json>, RpcError> rpc_call(const std::filesystem::path& socket_path,
                                                      const Json& hello, std::string_view method,
                                                      Delivery delivery, const Json& params,
                                                      std::chrono::nanoseconds limit);

}  // namespace kestrum
