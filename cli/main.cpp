// kestrum-cli: `kestrum claude ...` becomes Claude Code, registered with the app.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/child_env.hpp"
#include "cli/exec.hpp"
#include "cli/launch.hpp"
#include "hook/cli_register.hpp"
#include "hook/env.hpp"
#include "hook/event.hpp"
#include "launcher/cli.hpp"
#include "launcher/env.hpp"
#include "launcher/find_in_path.hpp"
#include "paths/utf8.hpp"

extern char** environ;

namespace {

using namespace kestrum;

constexpr std::chrono::seconds kRegisterLimit{10};

void write_line(int fd, std::string line) {
  line += '\n';
  std::string_view bytes = line;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nobody reads: nothing better to do
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::optional<std::filesystem::path> home_variable() {
  const char* home = std::getenv("HOME");
  if (home == nullptr) return std::nullopt;
  return std::filesystem::path(home);
}

std::optional<std::string_view> path_variable() {
  const char* path = std::getenv("PATH");
  if (path == nullptr || !is_valid_utf8(path)) return std::nullopt;
  return std::string_view(path);
}

int launch_claude(const launch::Launch& command) {
  const auto args = cli::parse(command.words);
  if (!args) {
    write_line(STDERR_FILENO, launch::refusal_line(args.error()));
    return 2;
  }
  const std::string search_path = env::fallback_path(path_variable(), home_variable());
  const auto claude = find_in_path(search_path, "claude");
  if (!claude) {
    write_line(STDERR_FILENO, std::string(launch::kNotFoundLine));
    return 127;
  }

  Json params = launch::registration_params(current_directory().value_or(""), *args);
  const Env env = Env::from_process();
  const auto registered = cli_register(command.leading, env, std::move(params), kRegisterLimit);
  launch::Plan plan = launch::plan_launch(registered, command.words, *args);
  if (plan.notice) write_line(STDERR_FILENO, launch::unregistered_notice(*plan.notice));

  const auto environment = launch::child_environment(environ, search_path, plan.app_env);
  const int error_number = launch::replace_process(*claude, plan.words, environment);
  write_line(STDERR_FILENO, launch::launch_failure_line(error_number));
  return 126;
}

int run(const std::vector<std::string>& words) {
  // Words are text; bytes that are not UTF-8 cannot be checked against the option names.
  if (!std::ranges::all_of(words, [](const std::string& w) { return is_valid_utf8(w); })) {
    write_line(STDERR_FILENO, std::string(launch::kUsageLine));
    return 2;
  }
  const launch::Command command = launch::classify(words);
  if (std::holds_alternative<launch::Version>(command)) {
    write_line(STDOUT_FILENO, std::string(launch::kVersionLine));
    return 0;
  }
  if (std::holds_alternative<launch::Usage>(command)) {
    write_line(STDERR_FILENO, std::string(launch::kUsageLine));
    return 2;
  }
  return launch_claude(std::get<launch::Launch>(command));
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (...) {
    // Only an exhausted machine gets here (allocation or thread creation failed).
    write_line(STDERR_FILENO, launch::launch_failure_line(ENOMEM));
  }
  return 126;
}
