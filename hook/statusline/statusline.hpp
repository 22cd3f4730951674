// kestrum-hook as Claude Code's status line: the user's own command under a cap.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hook/env.hpp"
#include "hook/outcome.hpp"

namespace kestrum::statusline {

// "statusline": shows the user's output within one second, else the session's cache.
Outcome run(const std::vector<std::string>& args, std::string_view input, const Env& env);

// "statusline-user": the background supervisor that runs the command and keeps the cache.
Outcome supervise(const std::vector<std::string>& args, std::string_view input, const Env& env);

}  // namespace kestrum::statusline
