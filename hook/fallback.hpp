// What the hook answers when the app cannot be reached or answers in an unexpected shape.
#pragma once

#include <optional>
#include <string>

#include "hook/outcome.hpp"
#include "profile/profile_paths.hpp"

namespace kestrum {

// Empty for non-blocking events and for local sessions; on hold (exit 2) for a blocking
// event of a session with a remote marker, or of no session at all.
Outcome app_unreachable(bool blocking, const std::optional<std::string>& session_id,
                        const ProfilePaths& paths);

}  // namespace kestrum
