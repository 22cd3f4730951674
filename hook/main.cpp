// kestrum-hook: run by Claude Code for each hook event and as its status line.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "common/fd_io.hpp"
#include "common/huge_pages.hpp"
#include "hook/events.hpp"
#include "hook/messages.hpp"
#include "hook/outcome.hpp"
#include "hook/run.hpp"
#include "hook/signal_answer.hpp"
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

// The text and a line feed, in one write where it fits, and without allocating: this
// also ends runs that failed for want of memory.
void write_line(int fd, std::string_view text) {
  char small[512];
  if (text.size() < sizeof small) {
    std::memcpy(small, text.data(), text.size());
    small[text.size()] = '\n';
    kestrum::write_all(fd, std::string_view(small, text.size() + 1));
    return;
  }
  if (kestrum::write_all(fd, text)) kestrum::write_all(fd, "\n");
}

[[noreturn]] void finish(const kestrum::Outcome& outcome) {
  if (g_blocking) kestrum::hold_signals();
  // A closed reader is not our problem.
  if (outcome.out) write_line(STDOUT_FILENO, *outcome.out);
  if (outcome.err) write_line(STDERR_FILENO, *outcome.err);
  ::_exit(outcome.status <= 255 ? static_cast<int>(outcome.status) : 2);
}

// An internal failure: blocking events hold the action, every other event stays silent.
// Nothing here allocates, since the failure may have been a failed allocation.
[[noreturn]] void finish_after_failure() {
  if (g_blocking) {
    kestrum::hold_signals();
    write_line(STDERR_FILENO, kestrum::kConfigErrorText);
    ::_exit(2);
  }
  ::_exit(0);
}

// Reports nothing: an exception escaping a worker thread ends the run like a caught one.
[[noreturn]] void silent_terminate() {
  finish_after_failure();
}

bool is_blocking_event(std::string_view name) {
  const kestrum::EventKind* kind = kestrum::find_event(name);
  return kind && kind->blocking;
}

}  // namespace

int main(int argc, char** argv) {
  // First of all, since from here on every end of a blocking event must be its answer.
  g_blocking = argc > 1 && is_blocking_event(argv[1]);
  std::set_terminate(silent_terminate);
  if (g_blocking) kestrum::answer_signals_from_start();

  std::signal(SIGPIPE, SIG_IGN);
  reopen_closed_standard_descriptors();
  try {
    // A caller may start us with no words at all, not even our own name.
    std::vector<std::string> args;
    if (argc > 1) args.assign(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
      write_line(STDOUT_FILENO, kestrum::kVersionLine);
      return 0;
    }
    const std::string input = read_input();
    const kestrum::Env env = kestrum::Env::from_process();
    finish(kestrum::run(args, input, env));
  } catch (...) {
    finish_after_failure();
  }
}
