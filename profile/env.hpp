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

namespace kestrum {

struct Env {
  std::optional<std::filesystem::path> home;     // HOME; empty counts as present
  std::optional<std::string> claude_config_dir;  // CLAUDE_CONFIG_DIR: UTF-8, not empty
  std::optional<std::string> launch_token;       // KESTRUM_LAUNCH_TOKEN: UTF-8, not empty
  std::optional<std::filesystem::path> socket;   // KESTRUM_SOCKET: any bytes, not empty
  std::optional<std::string> user_statusline;    // KESTRUM_USER_STATUSLINE: UTF-8, not empty
  // The running program's path, looked up when asked: only the status line needs it, and
  // the lookup is a system call every other run would pay for.
  std::function<std::optional<std::filesystem::path>()> current_exe;
  std::chrono::nanoseconds request_timeout = std::chrono::seconds(2);
  // Replaceable where an Env is built by other means (tests).
  std::function<std::optional<std::uint32_t>()> desktop_pid;
  std::uint32_t parent_pid = 0;
  // Development mode: "kestrum Dev" data directory and "--data-dir". Nothing sets it in
  // either program as built; only tests turn it on.
  bool dev = false;

  static Env from_process();

  // The parent id as sent to the app: never 0.
  std::uint32_t reported_pid() const { return parent_pid == 0 ? 1 : parent_pid; }
};

// What the launcher reads for itself, to find Claude Code.
struct LauncherEnv {
  std::optional<std::filesystem::path> home;  // HOME; empty counts as present
  std::optional<std::string> path;            // PATH: UTF-8, may be empty

  static LauncherEnv from_process();
};

// KESTRUM_STATUSLINE_CAP_MS as it is set, if it is; read only where the user's status line
// command is run, which no other mode needs.
std::optional<std::string> statusline_cap_variable();

// CLAUDE_CONFIG_DIR, else HOME/.claude; trailing slashes removed unless only slashes remain.
std::string config_directory(const Env& env);

// The current working directory as text, invalid UTF-8 replaced.
std::optional<std::string> current_directory();

}  // namespace kestrum
