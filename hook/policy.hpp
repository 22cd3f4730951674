// Tool-use and permission decisions: the hook asks the app and answers Claude Code.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string_view>

#include "hook/json.hpp"
#include "hook/outcome.hpp"

namespace kestrum {

inline constexpr std::string_view kDefaultPolicyReason = "Blocked by kestrum policy.";
inline constexpr std::string_view kNoDecisionText =
    "No decision for this action in kestrum in time. Do not retry it now; continue without it.";
inline constexpr std::string_view kDeclinedText =
    "The user declined this tool call. Continue without it.";

// How long a person may take to decide.
inline constexpr std::chrono::seconds kUserDecisionLimit{615};

// Claude Code's answer, or nothing when the app could not be asked or answered in an
// unexpected shape: the caller then falls back to `app_unreachable`.
using Decided = std::optional<Outcome>;

// The socket and the two JSON values every conversation of one event starts from.
struct AppRequest {
  const std::filesystem::path& socket_path;
  const Json& identity;  // the greeting's parameters
  const Json& params;    // the method's parameters
};

Outcome pre_tool_allow();
// The PreToolUse answer with "ask" or "deny" and a reason.
Outcome pre_tool_verdict(std::string_view decision, std::string_view reason);

Decided map_pre_tool_answer(const Json& result);
Outcome map_wait_answer(const Json& result);
Decided map_permission_answer(const Json& result);

// "policy_check" by now + `request_timeout`; on "hold", "policy_wait" on the same connection
// by (the moment the hold arrived) + `wait_limit`.
Decided pre_tool_use(const AppRequest& request, std::chrono::nanoseconds request_timeout,
                     std::chrono::nanoseconds wait_limit);

// Connecting and greeting get `request_timeout`; only the answer may take `answer_limit`
// (counted from the start), so an app that never greets cannot hold the dialog for long.
Decided permission_request(const AppRequest& request, std::chrono::nanoseconds request_timeout,
                           std::chrono::nanoseconds answer_limit);

// The "policy_denied" notification; nothing comes back.
Decided permission_denied(const AppRequest& request, std::chrono::nanoseconds limit);

}  // namespace kestrum
