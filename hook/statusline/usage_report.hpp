// The usage figures of Claude Code's status JSON, forwarded to the app at each refresh.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "common/json.hpp"
#include "hook/statusline/statusline.hpp"
#include "profile/env.hpp"

namespace kestrum::statusline {

// The "usage_report" params taken from the status document; empty when nothing qualifies.
Json build_usage_report(const Json& status);

// A model string made safe to show: control, zero-width and bidirectional-override
// characters removed, white space trimmed, at most 64 characters; nothing if empty.
std::optional<std::string> clean_label(const Json* value);

// Best effort: sends nothing without HOME, a session, usable figures or a token, and
// reports no failure.
void report_usage(const std::optional<SessionPaths>& session, const Json& status, const Env& env);

}  // namespace kestrum::statusline
