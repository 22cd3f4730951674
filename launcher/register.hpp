// Registering a Claude Code launch with the app, just before the launcher becomes it.
#pragma once

#include <chrono>
#include <expected>
#include <span>
#include <string>
#include <variant>

#include "appclient/app_session.hpp"
#include "common/json.hpp"
#include "profile/env.hpp"
#include "profile/profile_options.hpp"

namespace kestrum::launcher {

// No token file: the app is not up, and its socket is not even tried.
struct AppNotRunning {};

using RegisterError = std::variant<PathsError, MissingHome, AppNotRunning, RpcError>;

// `leading` are the launcher's words in front of `claude`; `params` carries "cwd" and,
// when set, "mode" and "resume", and gets "config_dir". The app's reply. Writes nothing.
std::expected<Json, RegisterError> cli_register(std::span<const std::string> leading,
                                                const ProfileEnv& env, Json params,
                                                std::chrono::nanoseconds limit);

}  // namespace kestrum::launcher
