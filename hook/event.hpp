// What the hook takes from Claude Code's event JSON, and what it builds from it for the app.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "hook/env.hpp"
#include "hook/json.hpp"

namespace kestrum {

// The input as one JSON document; null when it is not one.
Json parse_event(std::string_view input);

// "session_id" when it is a string of at least one byte.
std::optional<std::string> event_session_id(const Json& event);

// CLAUDE_CONFIG_DIR, else HOME/.claude; trailing slashes removed unless only slashes remain.
std::string config_directory(const Env& env);

// The greeting parameters of the hook's connections; nothing when the token file is
// unusable or the working directory is needed and unknown.
std::optional<Json> identity_object(const Json& event, std::string_view session_id,
                                    std::string_view config_dir, const Env& env,
                                    const std::filesystem::path& token_path);

// The params of the event's app method. `event_name` is one of the event table's names.
Json method_params(std::string_view event_name, const Json& event, std::string_view config_dir);

// SHA-256 of the tool name, a line feed and the canonical tool input.
std::optional<std::string> tool_key(const Json& event);

// Compact JSON with member names sorted bytewise at every level.
std::string canonical_json(const Json& value);

// The current working directory as text, invalid UTF-8 replaced.
std::optional<std::string> current_directory();

}  // namespace kestrum
