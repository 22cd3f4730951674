#include "profile/env.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "common/proc.hpp"
#include "common/utf8.hpp"

namespace kestrum {
namespace {

std::optional<std::string> utf8_variable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0' || !is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

void read_profile_env(ProfileEnv& env) {
  if (const char* home = std::getenv("HOME")) env.home = std::filesystem::path(home);
  env.claude_config_dir = utf8_variable("CLAUDE_CONFIG_DIR");
}

}  // namespace

Env Env::from_process() {
  Env env;
  read_profile_env(env);
  env.launch_token = utf8_variable("KESTRUM_LAUNCH_TOKEN");
  if (const char* socket = std::getenv("KESTRUM_SOCKET"); socket && *socket) {
    env.socket = std::filesystem::path(socket);
  }
  env.desktop_pid = &kestrum::desktop_pid;
  env.parent_pid = static_cast<std::uint32_t>(::getppid());
  env.user_statusline = utf8_variable("KESTRUM_USER_STATUSLINE");
  env.current_exe = []() -> std::optional<std::filesystem::path> {
    if (auto exe = proc::current_exe()) return std::filesystem::path(std::move(*exe));
    return std::nullopt;
  };
  return env;
}

LauncherEnv LauncherEnv::from_process() {
  LauncherEnv env;
  read_profile_env(env);
  if (const char* path = std::getenv("PATH"); path && is_valid_utf8(path)) env.path = path;
  return env;
}

std::optional<std::string> statusline_cap_variable() {
  const char* value = std::getenv("KESTRUM_STATUSLINE_CAP_MS");
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string config_directory(const ProfileEnv& env) {
  std::string dir;
  if (env.claude_config_dir) {
    dir = *env.claude_config_dir;
  } else if (env.home) {
    dir = to_utf8_lossy((*env.home / ".claude").native());
  }
  const std::size_t last = dir.find_last_not_of('/');
  if (last != std::string::npos) dir.erase(last + 1);
  return dir;
}

std::optional<std::string> current_directory() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() > (1u << 20)) return std::nullopt;
    buf.resize(buf.size() * 2);
  }
  return to_utf8_lossy(buf.data());
}

}  // namespace kestrum
