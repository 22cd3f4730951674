// What the hook takes from Claude Code's event JSON and its own environment, common to
// every event.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/json.hpp"
#include "profile/env.hpp"

namespace kestrum {

// The input as one JSON document; null when it is not one.
Json parse_event(std::string_view input);

// "session_id" when it is a string of at least one byte.
std::optional<std::string> event_session_id(const Json& event);

// The greeting parameters of the hook's connections; nothing when the token file is
// unusable or the working directory is needed and unknown.
std::optional<Json> identity_object(const Json& event, std::string_view session_id,
                                    std::string_view config_dir, const Env& env,
                                    const std::filesystem::path& token_path);

}  // namespace kestrum
