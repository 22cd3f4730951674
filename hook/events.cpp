#include "hook/events.hpp"

#include <algorithm>
#include <array>

#include "hook/event_names.hpp"
#include "hook/policy.hpp"
#include "hook/session_events.hpp"

namespace kestrum {
namespace {

constexpr EventKind session_event(std::string_view name) {
  return {.name = name,
          .method = "session_event",
          .params = session_event_params,
          .deliver = notify_app};
}

constexpr EventKind session_ending_event(std::string_view name) {
  EventKind kind = session_event(name);
  kind.ends_session = true;
  return kind;
}

constexpr bool named(const EventKind& kind) {
  return !kind.name.empty() && !kind.method.empty();
}

// A notification is delivered by notify_app, which waits for no answer.
constexpr auto kEvents = std::to_array<EventKind>({
    {.name = event_name::kPreToolUse,
     .method = "policy_check",
     .blocking = true,
     .waits_for_person = true,
     .params = pre_tool_params,
     .deliver = pre_tool_use},
    {.name = event_name::kPermissionRequest,
     .method = "permission_decide",
     .waits_for_person = true,
     .params = permission_params,
     .deliver = permission_request},
    {.name = "PermissionDenied",
     .method = "policy_denied",
     .params = permission_params,
     .deliver = notify_app},
    {.name = event_name::kUserPromptSubmit,
     .method = "prompt_submitted",
     .params = prompt_params,
     .deliver = submit_prompt},
    {.name = "ConfigChange",
     .method = "config_change",
     .blocking = true,
     .params = config_change_params,
     .deliver = report_config_change},
    session_event("SessionStart"),
    session_ending_event("SessionEnd"),
    session_event("Stop"),
    session_event("StopFailure"),
    session_event("SubagentStart"),
    session_event("SubagentStop"),
    session_event("Notification"),
    {.name = "PostToolUse",
     .method = "session_event",
     .params = post_tool_params,
     .deliver = notify_app},
});
static_assert(std::ranges::all_of(kEvents, named), "every event has a name and a method");

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
