#include <fcntl.h>

#include "appclient/rpc.hpp"

namespace kestrum {
namespace {

constexpr std::uint64_t kGreetingId = 1;
constexpr std::uint64_t kRequestId = 2;

bool declares_protocol_zero(const Json& answer) {
  const Json* version = member(answer, "protocol_version");
  return version && version->is_number_unsigned() && version->get<std::uint64_t>() == 0;
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

Json make_notification(std::string_view method, const Json& params) {
  Json message = Json::object();
  message["jsonrpc"] = "2.0";
  message["method"] = std::string(method);
  message["params"] = params;
  return message;
}

Json make_request(std::uint64_t id, std::string_view method, const Json& params) {
  Json message = make_notification(method, params);
  message["id"] = id;
  return message;
}

std::expected<AppConnection, RpcError> greet(UniqueFd socket, const Json& hello,
                                             Clock::time_point deadline) {
  // Numbers below 3 are left free so that the standard descriptors can never be taken.
  UniqueFd write_side(::fcntl(socket.get(), F_DUPFD_CLOEXEC, 3));
  if (!write_side) return std::unexpected(RpcError::Io);
  AppConnection connection(std::move(socket), std::move(write_side));
  if (auto sent = send_message(connection, kGreetingId, "hello", hello, deadline); !sent) {
    return std::unexpected(sent.error());
  }
  const auto answer = read_answer(connection, kGreetingId, deadline);
  if (!answer) return std::unexpected(answer.error());
  if (!declares_protocol_zero(*answer)) return std::unexpected(RpcError::Protocol);
  return connection;
}

namespace {

std::expected<AppConnection, RpcError> greet_and_send(UniqueFd socket, const Json& hello,
                                                      std::optional<std::uint64_t> id,
                                                      std::string_view method, const Json& params,
                                                      Clock::time_point deadline) {
  auto connection = greet(std::move(socket), hello, deadline);
  if (!connection) return std::unexpected(connection.error());
  if (auto sent = send_message(*connection, id, method, params, deadline); !sent) {
    return std::unexpected(sent.error());
  }
  return connection;
}

}  // namespace

std::expected<Json, RpcError> rpc_request(UniqueFd socket, const Json& hello,
                                          std::string_view method, const Json& params,
                                          Clock::time_point deadline) {
  auto connection = greet_and_send(std::move(socket), hello, kRequestId, method, params, deadline);
  if (!connection) return std::unexpected(connection.error());
  return read_answer(*connection, kRequestId, deadline);
}

std::expected<Json, RpcError> rpc_request(const std::filesystem::path& socket_path,
                                          const Json& hello, std::string_view method,
                                          const Json& params, std::chrono::nanoseconds limit) {
  // Fixed before connecting, so a slow connect shortens the rest instead of adding to it.
  const Clock::time_point deadline = deadline_after(limit);
  auto socket = connect_with_timeout(socket_path, limit);
  if (!socket) return std::unexpected(socket.error());
  return rpc_request(std::move(*socket), hello, method, params, deadline);
}

std::expected<void, RpcError> rpc_notify(const std::filesystem::path& socket_path,
                                         const Json& hello, std::string_view method,
                                         const Json& params, std::chrono::nanoseconds limit) {
  const Clock::time_point deadline = deadline_after(limit);
  auto socket = connect_with_timeout(socket_path, limit);
  if (!socket) return std::unexpected(socket.error());
  auto connection =
      greet_and_send(std::move(*socket), hello, std::nullopt, method, params, deadline);
  if (!connection) return std::unexpected(connection.error());
  return {};
}

}  // namespace kestrum
