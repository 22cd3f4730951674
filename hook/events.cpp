#include "hook/events.hpp"

#include <array>

#include "hook/policy.hpp"
#include "hook/session_events.hpp"

namespace kestrum {
namespace {

using enum Delivery;

constexpr EventKind session_event(std::string_view name, bool ends_session = false) {
  return {name,  "session_event", Notification,         false,
          false, ends_session,    session_event_params, notify_app};
}

// name, method, delivery, blocking, waits for a person, ends the session, params, deliver
constexpr std::array<EventKind, 13> kEvents{{
    {"PreToolUse", "policy_check", Request, true, true, false, pre_tool_params, pre_tool_use},
    {"PermissionRequest", "permission_decide", Request, false, true, false, permission_params,
     permission_request},
    {"PermissionDenied", "policy_denied", Notification, false, false, false, permission_params,
     notify_app},
    {"UserPromptSubmit", "prompt_submitted", Request, false, false, false, prompt_params,
     submit_prompt},
    {"ConfigChange", "config_change", Request, true, false, false, config_change_params,
     report_config_change},
    session_event("SessionStart"),
    session_event("SessionEnd", true),
    session_event("Stop"),
    session_event("StopFailure"),
    session_event("SubagentStart"),
    session_event("SubagentStop"),
    session_event("Notification"),
    session_event("PostToolUse"),
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

Json method_params(std::string_view event_name, Json event, std::string_view config_dir) {
  const EventKind* kind = find_event(event_name);
  if (!kind) return Json::object();
  return kind->params({event_name, event, config_dir});
}

}  // namespace kestrum
