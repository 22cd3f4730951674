#include "hook/event_table.hpp"

#include <array>

namespace kestrum {
namespace {

using enum Delivery;

constexpr std::array<EventKind, 13> kEvents{{
    {"PreToolUse", "policy_check", Request, true},
    {"PermissionRequest", "permission_decide", Request, false},
    {"PermissionDenied", "policy_denied", Notification, false},
    {"UserPromptSubmit", "prompt_submitted", Request, false},
    {"ConfigChange", "config_change", Request, true},
    {"SessionStart", "session_event", Notification, false},
    {"SessionEnd", "session_event", Notification, false},
    {"Stop", "session_event", Notification, false},
    {"StopFailure", "session_event", Notification, false},
    {"SubagentStart", "session_event", Notification, false},
    {"SubagentStop", "session_event", Notification, false},
    {"Notification", "session_event", Notification, false},
    {"PostToolUse", "session_event", Notification, false},
}};

}  // namespace

std::span<const EventKind> all_events() {
  return kEvents;
}

const EventKind* find_event(std::string_view name) {
  for (const EventKind& e : kEvents) {
    if (e.name == name) return &e;
  }
  return nullptr;
}

bool is_blocking_event(std::string_view name) {
  return name == "PreToolUse" || name == "ConfigChange";
}

}  // namespace kestrum
