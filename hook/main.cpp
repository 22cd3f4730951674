// kestrum-hook: run by Claude Code for each hook event and as its status line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <exception>
#include <string>
#include <vector>

#include "hook/env.hpp"
#include "hook/event_table.hpp"
#include "hook/outcome.hpp"
#include "hook/run.hpp"
#include "paths/utf8.hpp"

namespace {

constexpr std::size_t kMaxInputBytes = 8 * 1024 * 1024;
constexpr std::string_view kVersionLine = "kestrum-hook 0.1.0\n";

bool g_blocking = false;

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed reader is not our problem
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

void reopen_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // open() takes the lowest free number, which is this one.
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0 && null_fd != fd) ::close(null_fd);
    }
  }
}

std::string read_input() {
  std::string input;
  std::size_t used = 0;
  input.resize(64 * 1024);
  while (used < kMaxInputBytes) {
    if (used == input.size()) input.resize(std::min(input.size() * 2, kMaxInputBytes));
    const ssize_t n = ::read(STDIN_FILENO, input.data() + used, input.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of input, or an error: what came so far is the input
    used += static_cast<std::size_t>(n);
  }
  input.resize(used);
  return input;
}

// An internal failure: blocking events hold the action, every other event stays silent.
kestrum::Outcome guard_outcome() {
  return g_blocking ? kestrum::config_error() : kestrum::Outcome::empty();
}

[[noreturn]] void finish(const kestrum::Outcome& outcome) {
  if (outcome.out) write_all(STDOUT_FILENO, *outcome.out + "\n");
  if (outcome.err) write_all(STDERR_FILENO, *outcome.err + "\n");
  ::_exit(outcome.status <= 255 ? static_cast<int>(outcome.status) : 2);
}

// Reports nothing: an exception escaping a worker thread ends the run like a caught one.
[[noreturn]] void silent_terminate() {
  finish(guard_outcome());
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  reopen_closed_standard_descriptors();
  std::vector<std::string> args(argv + 1, argv + argc);

  if (args.size() == 1 && args[0] == "--version") {
    write_all(STDOUT_FILENO, kVersionLine);
    return 0;
  }
  g_blocking = !args.empty() && kestrum::is_blocking_event(args[0]);
  std::set_terminate(silent_terminate);

  kestrum::Outcome outcome;
  try {
    // Claude Code passes only UTF-8 words; anything else is handled as an internal failure.
    for (const std::string& word : args) {
      if (!kestrum::is_valid_utf8(word)) finish(guard_outcome());
    }
    const std::string input = read_input();
    const kestrum::Env env = kestrum::Env::from_process();
    outcome = kestrum::run(args, input, env);
  } catch (...) {
    outcome = guard_outcome();
  }
  finish(outcome);
}
