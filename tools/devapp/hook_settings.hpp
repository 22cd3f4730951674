// The Claude Code settings file the development app hands to each launch: kestrum-hook for
// every event it answers, and as the status line.
#pragma once

#include <filesystem>
#include <string>

#include "common/deadline.hpp"
#include "common/json.hpp"

namespace kestrum::devapp {

// Events that may wait on a person get a Claude Code timeout beyond the hook's own wait
// (Claude Code's default of 600 s would cut it short), with room to answer after it.
inline constexpr int kHumanWaitHookTimeout = static_cast<int>(kUserDecisionLimit.count()) + 15;

Json hook_settings(const std::filesystem::path& hook_program, const std::string& profile);

// A command for /bin/sh -c that replaces the shell with the program, so the hook's parent
// is Claude Code itself and not a shell that stayed in between.
std::string exec_command(const std::filesystem::path& program, const std::string& words);

}  // namespace kestrum::devapp
