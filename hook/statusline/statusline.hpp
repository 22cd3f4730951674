// kestrum-hook as Claude Code's status line: the user's own command under a cap.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/json.hpp"
#include "hook/outcome.hpp"
#include "profile/env.hpp"
#include "profile/profile_paths.hpp"

namespace kestrum::statusline {

// "statusline": shows the user's output within one second, else the session's cache.
Outcome run(const std::vector<std::string>& args, std::string_view input, const Env& env);

// "statusline-user": the background supervisor that runs the command and keeps the cache.
Outcome supervise(const std::vector<std::string>& args, std::string_view input, const Env& env);

// A session's profile files; the same profile and data directory as the hook events use.
struct SessionPaths {
  ProfilePaths paths;
  std::string session_id;
};

// Nothing without a usable profile, HOME, data directory or "session_id".
std::optional<SessionPaths> resolve_session_paths(const std::vector<std::string>& args,
                                                  const Json& status, const Env& env);

}  // namespace kestrum::statusline
