#include "hook/policy.hpp"

#include <algorithm>

#include "appclient/app_session.hpp"
#include "hook/event_names.hpp"
#include "hook/messages.hpp"

namespace kestrum {
namespace {

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
  output["hookEventName"] = event_name::kPermissionRequest;
  return answer(std::move(output));
}

Outcome permission_deny(std::string_view message) {
  Json decision = Json::object();
  decision["behavior"] = "deny";
  decision["interrupt"] = false;
  decision["message"] = std::string(message);
  Json output = Json::object();
  output["decision"] = std::move(decision);
  output["hookEventName"] = event_name::kPermissionRequest;
  return answer(std::move(output));
}

// The second phase: the app has put the call on hold until a person decides.
Outcome await_decision(AppSession& session, const Json& hold, std::chrono::nanoseconds wait_limit) {
  const std::string* perm_id = string_member(hold, "perm_id");
  if (!perm_id) return no_decision();
  session.renew_deadline(deadline_after(wait_limit));
  Json params = Json::object();
  params["perm_id"] = *perm_id;
  const auto result = session.call("policy_wait", params);
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
  output["hookEventName"] = event_name::kPreToolUse;
  output["permissionDecision"] = "allow";
  return answer(std::move(output));
}

Outcome pre_tool_verdict(std::string_view decision, std::string_view reason) {
  Json output = Json::object();
  output["hookEventName"] = event_name::kPreToolUse;
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
  auto session = AppSession::open(request.socket_path, request.identity, request.request_limit);
  if (!session) return std::nullopt;
  const auto result = session->call(request.method, request.params);
  if (!result) return std::nullopt;
  if (is_hold(*result)) return await_decision(*session, *result, request.person_limit);
  return map_pre_tool_answer(*result);
}

Decided permission_request(const AppRequest& request) {
  // Fixed first: a person's time runs from the start, not from the greeting's answer.
  const Clock::time_point answer_deadline = deadline_after(request.person_limit);
  const auto short_limit = std::min(request.request_limit, request.person_limit);
  auto session = AppSession::open(request.socket_path, request.identity, short_limit);
  if (!session) return std::nullopt;
  const auto result = session->call(request.method, request.params, answer_deadline);
  if (!result) return std::nullopt;
  return map_permission_answer(*result);
}

}  // namespace kestrum
