// kestrum-hook: run by Claude Code for each hook event and as its status line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <exception>
#include <string>
#include <vector>

#include "common/fd_io.hpp"
#include "common/huge_pages.hpp"
#include "hook/events.hpp"
#include "hook/messages.hpp"
#include "hook/outcome.hpp"
#include "hook/run.hpp"
#include "profile/env.hpp"

namespace {

constexpr std::size_t kMaxInputBytes = 8 * 1024 * 1024;
// Most events are far smaller: they are read into this much heap before all the room is taken.
constexpr std::size_t kSmallInputBytes = 4 * 1024;
// Past this much, an event is large enough to take its memory in large pages.
constexpr std::size_t kLargeInputBytes = 1024 * 1024;

bool g_blocking = false;

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
  // A small event needs no mapping of its own, which costs more to make and undo than
  // reading it. A large one gets all the room at once, so it is never copied but once.
  // A read error ends the input: what came so far is the input.
  input.reserve(kSmallInputBytes);
  if (kestrum::read_up_to(STDIN_FILENO, kSmallInputBytes, input) &&
      input.size() == kSmallInputBytes) {
    input.reserve(kMaxInputBytes);
    kestrum::prefer_huge_pages(input.data() + kLargeInputBytes, kMaxInputBytes - kLargeInputBytes);
    kestrum::read_up_to(STDIN_FILENO, kMaxInputBytes, input);
  }
  return input;
}

// An internal failure: blocking events hold the action, every other event stays silent.
kestrum::Outcome guard_outcome() {
  return g_blocking ? kestrum::config_error() : kestrum::Outcome::empty();
}

[[noreturn]] void finish(const kestrum::Outcome& outcome) {
  // A closed reader is not our problem.
  if (outcome.out) kestrum::write_all(STDOUT_FILENO, *outcome.out + "\n");
  if (outcome.err) kestrum::write_all(STDERR_FILENO, *outcome.err + "\n");
  ::_exit(outcome.status <= 255 ? static_cast<int>(outcome.status) : 2);
}

// Reports nothing: an exception escaping a worker thread ends the run like a caught one.
[[noreturn]] void silent_terminate() {
  finish(guard_outcome());
}

bool is_blocking_event(const std::vector<std::string>& args) {
  if (args.empty()) return false;
  const kestrum::EventKind* kind = kestrum::find_event(args[0]);
  return kind && kind->blocking;
}

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  reopen_closed_standard_descriptors();
  // A caller may start us with no words at all, not even our own name.
  std::vector<std::string> args;
  if (argc > 1) args.assign(argv + 1, argv + argc);

  if (args.size() == 1 && args[0] == "--version") {
    kestrum::write_all(STDOUT_FILENO, std::string(kestrum::kVersionLine) + "\n");
    return 0;
  }
  g_blocking = is_blocking_event(args);
  std::set_terminate(silent_terminate);

  kestrum::Outcome outcome;
  try {
    const std::string input = read_input();
    const kestrum::Env env = kestrum::Env::from_process();
    outcome = kestrum::run(args, input, env);
  } catch (...) {
    outcome = guard_outcome();
  }
  finish(outcome);
}
