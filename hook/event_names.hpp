// Claude Code's names of the events whose answers name them back ("hookEventName"), or whose
// params differ from their kind's. The table in events.cpp lists every event.
#pragma once

#include <string_view>

namespace kestrum::event_name {

inline constexpr std::string_view kPreToolUse = "PreToolUse";
inline constexpr std::string_view kPermissionRequest = "PermissionRequest";
inline constexpr std::string_view kUserPromptSubmit = "UserPromptSubmit";

}  // namespace kestrum::event_name
