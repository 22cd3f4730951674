// Every text kestrum-hook hands Claude Code: the user's in Korean, the agent's in English.
#pragma once

#include <string_view>

namespace kestrum {

inline constexpr std::string_view kVersionLine = "kestrum-hook 0.1.0";

// A blocking event that cannot be handled as configured (bad profile, no HOME, a fault).
inline constexpr std::string_view kConfigErrorText = "kestrum hook 설정 오류";

inline constexpr std::string_view kOnHoldText =
    "kestrum is not running, so this action from a colleague's request is on hold. Ask the "
    "user to open kestrum.";

inline constexpr std::string_view kDefaultPolicyReason = "Blocked by kestrum policy.";
inline constexpr std::string_view kNoDecisionText =
    "No decision for this action in kestrum in time. Do not retry it now; continue without it.";
inline constexpr std::string_view kDeclinedText =
    "The user declined this tool call. Continue without it.";

// The only reason ever given for a configuration block; the app cannot supply its own.
inline constexpr std::string_view kConfigBlockReason =
    "kestrum: 원격 작업 중에는 설정을 바꿀 수 없다";

}  // namespace kestrum
