// The environment Claude Code is started with.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "launcher/command.hpp"

namespace kestrum::launcher {

// `inherited` is a NUL-terminated "NAME=value" array (the launcher's environ). In this
// order: PATH becomes the search path, every KESTRUM_ variable is dropped (the user's
// own would point hooks at the wrong app or launch), then the app's variables are set.
std::vector<std::string> child_environment(const char* const* inherited,
                                           std::string_view search_path, const AppEnv& app_env);

}  // namespace kestrum::launcher
