// One conversation with the app over its local socket: open (connect and greet), then
// requests and notifications, then close. Every wait is bounded by the session's deadline,
// or by the one a call is given for its answer; nothing is retried. The message ids are the
// session's business: the greeting is 1, the requests after it 2, 3, ..., so that every answer is
// told apart by position.
#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <string_view>

#include "appclient/connection.hpp"
#include "common/deadline.hpp"
#include "common/json.hpp"

namespace kestrum {

class AppSession {
 public:
  // Asked with the connected socket before anything is written to it (the greeting
  // carries the app's token); false ends the attempt with `Connect`.
  using Admit = std::function<bool(int socket)>;

  // Connects to `socket_path` and greets with `hello`, which must carry "protocol_version"
  // 0; the app must answer that it speaks version 0. The deadline, now + `limit`, is fixed
  // before connecting, so a slow connect shortens the rest instead of adding to it.
  static std::expected<AppSession, RpcError> open(const std::filesystem::path& socket_path,
                                                  const Json& hello, std::chrono::nanoseconds limit,
                                                  const Admit& admit = {});

  // A request with the next id: the "result" of its answer. The app's own lines and other
  // answers are skipped. The session's deadline bounds the send; `answer_by` bounds the wait
  // for the answer (the session's deadline unless given), so that an answer a person gives
  // may take longer than the app may take to read the request.
  std::expected<Json, RpcError> call(std::string_view method, const Json& params);
  std::expected<Json, RpcError> call(std::string_view method, const Json& params,
                                     Clock::time_point answer_by);

  // Done once its line is written by the session's deadline; nothing comes back.
  std::expected<void, RpcError> notify(std::string_view method, const Json& params);

  // Replaces the session's deadline for every send and answer after it, as when the app has
  // put a call on hold for a person to decide.
  void renew_deadline(Clock::time_point deadline) { deadline_ = deadline; }

  // Tests drive the wire below the session with this (connection.hpp).
  AppConnection& connection_for_tests() { return connection_; }

 private:
  AppSession(AppConnection connection, Clock::time_point deadline)
      : connection_(std::move(connection)), deadline_(deadline) {}

  AppConnection connection_;
  Clock::time_point deadline_;
  std::uint64_t last_id_ = 0;  // the greeting's, once open
};

}  // namespace kestrum
