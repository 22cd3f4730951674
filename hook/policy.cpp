#include "hook/policy.hpp"

#include <algorithm>

#include "appclient/rpc.hpp"
#include "hook/messages.hpp"

namespace kestrum {
namespace {

constexpr std::uint64_t kCheckId = 2;
constexpr std::uint64_t kWaitId = 3;

Outcome answer(Json inner) {
  Json text = Json::object();
  text["hookSpecificOutput"] = std::move(inner);
  return Outcome::output(dump_compact(text));
}

Outcome no_decision() {
  return pre_tool_verdict("deny", kNoDecisionText);
}

std::string_view reason_or(const Json& result, std::string_view fallback) {
  const std::string* reason = string_member(result, "reason");
  return reason ? std::string_view(*reason) : fallback;
}

Outcome permission_allow() {
  Json output = Json::object();
  output["decision"] = Json{{"behavior", "allow"}};
  output["hookEventName"] = "PermissionRequest";
  return answer(std::move(output));
}

Outcome permission_deny(std::string_view message) {
  Json decision = Json::object();
  decision["behavior"] = "deny";
  decision["interrupt"] = false;
  decision["message"] = std::string(message);
  Json output = Json::object();
  output["decision"] = std::move(decision);
  output["hookEventName"] = "PermissionRequest";
  return answer(std::move(output));
}

// Connected and greeted under the short limit, or nothing.
std::optional<AppConnection> open_greeted(const AppRequest& request, std::chrono::nanoseconds limit,
                                          Clock::time_point deadline) {
  auto socket = connect_with_timeout(request.socket_path, limit);
  if (!socket) return std::nullopt;
  auto connection = greet(std::move(*socket), request.identity, deadline);
  if (!connection) return std::nullopt;
  return std::move(*connection);
}

std::optional<Json> send_and_read(AppConnection& connection, std::uint64_t id,
                                  std::string_view method, const Json& params,
                                  Clock::time_point send_deadline,
                                  Clock::time_point answer_deadline) {
  if (!send_message(connection, id, method, params, send_deadline)) {
    return std::nullopt;
  }
  auto result = read_answer(connection, id, answer_deadline);
  if (!result) return std::nullopt;
  return std::move(*result);
}

// The second phase: the app has put the call on hold until a person decides.
Outcome await_decision(AppConnection& connection, const Json& hold,
                       std::chrono::nanoseconds wait_limit) {
  const std::string* perm_id = string_member(hold, "perm_id");
  if (!perm_id) return no_decision();
  const Clock::time_point deadline = deadline_after(wait_limit);
  Json params = Json::object();
  params["perm_id"] = *perm_id;
  const auto result = send_and_read(connection, kWaitId, "policy_wait", params, deadline, deadline);
  if (!result) return no_decision();
  return map_wait_answer(*result);
}

bool is_hold(const Json& result) {
  const std::string* decision = string_member(result, "decision");
  return decision && *decision == "hold";
}

}  // namespace

Outcome pre_tool_allow() {
  Json output = Json::object();
  output["hookEventName"] = "PreToolUse";
  output["permissionDecision"] = "allow";
  return answer(std::move(output));
}

Outcome pre_tool_verdict(std::string_view decision, std::string_view reason) {
  Json output = Json::object();
  output["hookEventName"] = "PreToolUse";
  output["permissionDecision"] = std::string(decision);
  output["permissionDecisionReason"] = std::string(reason);
  return answer(std::move(output));
}

Decided map_pre_tool_answer(const Json& result) {
  const Json* decision = member(result, "decision");
  if (!decision) return std::nullopt;
  if (decision->is_null()) return Outcome::empty();  // Claude Code applies its own rules
  if (!decision->is_string()) return std::nullopt;
  const auto& word = decision->get_ref<const std::string&>();
  if (word == "allow") return pre_tool_allow();
  if (word == "ask" || word == "deny") {
    return pre_tool_verdict(word, reason_or(result, kDefaultPolicyReason));
  }
  return std::nullopt;
}

Outcome map_wait_answer(const Json& result) {
  const std::string* decision = string_member(result, "decision");
  if (decision && *decision == "deny") {
    return pre_tool_verdict("deny", reason_or(result, kNoDecisionText));
  }
  if (decision && *decision == "allow") return pre_tool_allow();
  return no_decision();
}

Decided map_permission_answer(const Json& result) {
  const Json* behavior = member(result, "behavior");
  if (!behavior) return std::nullopt;
  if (behavior->is_null()) return Outcome::empty();  // Claude Code shows its own dialog
  if (!behavior->is_string()) return std::nullopt;
  const auto& word = behavior->get_ref<const std::string&>();
  if (word == "allow") return permission_allow();
  if (word == "deny") {
    const std::string* message = string_member(result, "message");
    return permission_deny(message ? std::string_view(*message) : kDeclinedText);
  }
  return std::nullopt;
}

Decided pre_tool_use(const AppRequest& request) {
  const Clock::time_point deadline = deadline_after(request.request_limit);
  auto connection = open_greeted(request, request.request_limit, deadline);
  if (!connection) return std::nullopt;
  const auto result =
      send_and_read(*connection, kCheckId, request.method, request.params, deadline, deadline);
  if (!result) return std::nullopt;
  if (is_hold(*result)) return await_decision(*connection, *result, request.person_limit);
  return map_pre_tool_answer(*result);
}

Decided permission_request(const AppRequest& request) {
  const Clock::time_point answer_deadline = deadline_after(request.person_limit);
  const auto short_limit = std::min(request.request_limit, request.person_limit);
  const Clock::time_point short_deadline = deadline_after(short_limit);
  auto connection = open_greeted(request, short_limit, short_deadline);
  if (!connection) return std::nullopt;
  const auto result = send_and_read(*connection, kCheckId, request.method, request.params,
                                    short_deadline, answer_deadline);
  if (!result) return std::nullopt;
  return map_permission_answer(*result);
}

}  // namespace kestrum
