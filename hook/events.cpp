#include "hook/events.hpp"

#include <array>

#include "hook/policy.hpp"
#include "hook/session_events.hpp"

namespace kestrum {
namespace {

constexpr EventKind session_event(std::string_view name, bool ends_session = false) {
  return {name, "session_event", false, false, ends_session, session_event_params, notify_app};
}

// name, method, blocking, waits for a person, ends the session, params, deliver (a
// notification is delivered by notify_app, which waits for no answer)
constexpr std::array<EventKind, 13> kEvents{{
    {"PreToolUse", "policy_check", true, true, false, pre_tool_params, pre_tool_use},
    {"PermissionRequest", "permission_decide", false, true, false, permission_params,
     permission_request},
    {"PermissionDenied", "policy_denied", false, false, false, permission_params, notify_app},
    {"UserPromptSubmit", "prompt_submitted", false, false, false, prompt_params, submit_prompt},
    {"ConfigChange", "config_change", true, false, false, config_change_params,
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
