#include "appclient/app_session.hpp"

namespace kestrum {
namespace {

constexpr std::uint64_t kGreetingId = 1;

bool declares_protocol_zero(const Json& answer) {
  const Json* version = member(answer, "protocol_version");
  return version && version->is_number_unsigned() && version->get<std::uint64_t>() == 0;
}

std::expected<AppConnection, RpcError> greet(UniqueFd socket, const Json& hello,
                                             Clock::time_point deadline) {
  auto connection = AppConnection::over(std::move(socket));
  if (!connection) return std::unexpected(connection.error());
  if (auto sent = send_message(*connection, kGreetingId, "hello", hello, deadline); !sent) {
    return std::unexpected(sent.error());
  }
  const auto answer = read_answer(*connection, kGreetingId, deadline);
  if (!answer) return std::unexpected(answer.error());
  if (!declares_protocol_zero(*answer)) return std::unexpected(RpcError::Protocol);
  return connection;
}

}  // namespace

std::expected<AppSession, RpcError> AppSession::open(const std::filesystem::path& socket_path,
                                                     const Json& hello,
                                                     std::chrono::nanoseconds limit,
                                                     const Admit& admit) {
  const Clock::time_point deadline = deadline_after(limit);
  auto socket = connect_with_timeout(socket_path, limit);
  if (!socket) return std::unexpected(socket.error());
  if (admit && !admit(socket->get())) return std::unexpected(RpcError::Connect);
  auto connection = greet(std::move(*socket), hello, deadline);
  if (!connection) return std::unexpected(connection.error());
  AppSession session(std::move(*connection), deadline);
  session.last_id_ = kGreetingId;
  return session;
}

std::expected<Json, RpcError> AppSession::call(std::string_view method, const Json& params) {
  return call(method, params, deadline_);
}

std::expected<Json, RpcError> AppSession::call(std::string_view method, const Json& params,
                                               Clock::time_point answer_by) {
  const std::uint64_t id = ++last_id_;
  if (auto sent = send_message(connection_, id, method, params, deadline_); !sent) {
    return std::unexpected(sent.error());
  }
  return read_answer(connection_, id, answer_by);
}

std::expected<void, RpcError> AppSession::notify(std::string_view method, const Json& params) {
  return send_message(connection_, std::nullopt, method, params, deadline_);
}

}  // namespace kestrum
