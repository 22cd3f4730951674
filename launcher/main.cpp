// kestrum-cli: `kestrum claude ...` becomes Claude Code, registered with the app.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/deadline.hpp"
#include "common/fd_io.hpp"
#include "common/utf8.hpp"
#include "launcher/child_env.hpp"
#include "launcher/command.hpp"
#include "launcher/exec.hpp"
#include "launcher/messages.hpp"
#include "launcher/register.hpp"
#include "launcher/search_path.hpp"
#include "launcher/words.hpp"
#include "profile/env.hpp"

extern char** environ;

namespace {

using namespace kestrum;
using namespace kestrum::launcher;

void write_line(int fd, std::string line) {
  line += '\n';
  write_all(fd, line);  // nobody reads: nothing better to do
}

int launch_claude(const Launch& command) {
  const auto args = parse(command.words);
  if (!args) {
    write_line(STDERR_FILENO, refusal_line(args.error()));
    return 2;
  }
  const LauncherEnv own = LauncherEnv::from_process();
  const std::string search_path = fallback_path(own.path, own.home);
  const auto claude = find_in_path(search_path, "claude");
  if (!claude) {
    write_line(STDERR_FILENO, std::string(kNotFoundLine));
    return 127;
  }

  Json params = registration_params(current_directory().value_or(""), *args);
  const auto registered = cli_register(command.leading, own, std::move(params), kRegisterLimit);
  Plan plan = plan_launch(registered, command.words, *args);
  if (plan.notice) write_line(STDERR_FILENO, unregistered_notice(*plan.notice));

  const auto environment = child_environment(environ, search_path, plan.app_env);
  const int error_number = replace_process(*claude, plan.words, environment);
  write_line(STDERR_FILENO, launch_failure_line(error_number));
  return 126;
}

int run(const std::vector<std::string>& words) {
  // Words are text; bytes that are not UTF-8 cannot be checked against the option names.
  if (!std::ranges::all_of(words, [](const std::string& w) { return is_valid_utf8(w); })) {
    write_line(STDERR_FILENO, std::string(kUsageLine));
    return 2;
  }
  const Invocation invocation = classify(words);
  if (std::holds_alternative<Version>(invocation)) {
    write_line(STDOUT_FILENO, std::string(kVersionLine));
    return 0;
  }
  if (std::holds_alternative<Usage>(invocation)) {
    write_line(STDERR_FILENO, std::string(kUsageLine));
    return 2;
  }
  return launch_claude(std::get<Launch>(invocation));
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  try {
    std::vector<std::string> words;
    if (argc > 1) words.assign(argv + 1, argv + argc);
    return run(words);
  } catch (...) {
    // Only an exhausted machine gets here (allocation or thread creation failed).
    write_line(STDERR_FILENO, launch_failure_line(ENOMEM));
  }
  return 126;
}
