// The params of each event's app method, built from Claude Code's event JSON.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/json.hpp"

namespace kestrum {

// What every builder is given: the event's name, its JSON, and the Claude configuration
// directory. A builder may move "tool_input" out of the event into the params: it can be
// megabytes, and nothing reads it from the event afterwards.
struct EventInput {
  std::string_view name;
  Json& event;
  std::string_view config_dir;
};

// "session_event": the event's name and what tells its occurrences apart.
Json session_event_params(const EventInput& input);
// PostToolUse: a session event that also carries the tool key.
Json post_tool_params(const EventInput& input);
Json config_change_params(const EventInput& input);
// A prompt is sent as its first 200 characters and a digest, never whole.
Json prompt_params(const EventInput& input);
Json pre_tool_params(const EventInput& input);
// PermissionRequest and PermissionDenied: the tool call and its key.
Json permission_params(const EventInput& input);

// SHA-256 of the tool name, a line feed and the canonical tool input.
std::optional<std::string> tool_key(const Json& event);

}  // namespace kestrum
