// Registering a Claude Code launch with the app, just before the launcher becomes it.
#pragma once

#include <chrono>
#include <expected>
#include <span>
#include <string>

#include "hook/env.hpp"
#include "hook/json.hpp"

namespace kestrum {

// `leading` are the launcher's words in front of `claude`; `params` carries "cwd" and,
// when set, "mode" and "resume", and gets "config_dir". The app's reply, or a short
// reason for the user's notice ("앱이 켜져 있지 않다", "Timeout", ...). Writes nothing.
std::expected<Json, std::string> cli_register(std::span<const std::string> leading, const Env& env,
                                              Json params, std::chrono::nanoseconds limit);

}  // namespace kestrum
