// The one reader of environment variables: the hook's snapshot `Env`, captured once per
// run, the launcher's own small one beside it, and the status line's time cap. Elsewhere
// the environment is only handed on whole, to the programs started (Claude Code, the
// user's status line command).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "common/deadline.hpp"

namespace kestrum {

// What finding a profile's files and Claude Code's configuration needs: all that both
// programs read alike.
struct ProfileEnv {
  std::optional<std::filesystem::path> home;     // HOME; empty counts as present
  std::optional<std::string> claude_config_dir;  // CLAUDE_CONFIG_DIR: UTF-8, not empty
  // Development mode: the app's development build keeps its data under "kestrum Dev" and may
  // be pointed elsewhere with "--data-dir". Off in both programs as built, which serve the
  // released app; tests turn it on, so that those paths keep working.
  bool dev = false;
};

// The hook's snapshot.
struct Env : ProfileEnv {
  std::optional<std::string> launch_token;      // KESTRUM_LAUNCH_TOKEN: UTF-8, not empty
  std::optional<std::filesystem::path> socket;  // KESTRUM_SOCKET: any bytes, not empty
  std::optional<std::string> user_statusline;   // KESTRUM_USER_STATUSLINE: UTF-8, not empty
  // The running program's path, looked up when asked: only the status line needs it, and
  // the lookup is a system call every other run would pay for.
  std::function<std::optional<std::filesystem::path>()> current_exe;
  std::chrono::nanoseconds request_timeout = kRequestLimit;
  // Replaceable where an Env is built by other means (tests).
  std::function<std::optional<std::uint32_t>()> desktop_pid;
  std::uint32_t parent_pid = 0;

  static Env from_process();

  // The parent id as sent to the app: never 0.
  std::uint32_t reported_pid() const { return parent_pid == 0 ? 1 : parent_pid; }
};

// What the launcher reads: where to find Claude Code, and where to register it.
struct LauncherEnv : ProfileEnv {
  std::optional<std::string> path;  // PATH: UTF-8, may be empty

  static LauncherEnv from_process();
};

// KESTRUM_STATUSLINE_CAP_MS as it is set, if it is; read only where the user's status line
// command is run, which no other mode needs.
std::optional<std::string> statusline_cap_variable();

// CLAUDE_CONFIG_DIR, else HOME/.claude; trailing slashes removed unless only slashes remain.
std::string config_directory(const ProfileEnv& env);

// The current working directory as text, invalid UTF-8 replaced.
std::optional<std::string> current_directory();

}  // namespace kestrum
