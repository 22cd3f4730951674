// kestrum-hook: run by Claude Code for each hook event and as its status line.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/deadline.hpp"
#include "common/fd_io.hpp"
#include "common/huge_pages.hpp"
#include "common/signal_wait.hpp"
#include "common/signals.hpp"
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

// One look at descriptors 0 to 2: a closed one is reopened on /dev/null, so that no file or
// socket of ours can take its number. Also says whether the event's writer is gone already,
// as it mostly is: reading the event then cannot block, and needs no wait before each read.
bool reopen_closed_standard_descriptors() {
  pollfd looked[3] = {
      {STDIN_FILENO, kestrum::kReadEvents, 0}, {STDOUT_FILENO, 0, 0}, {STDERR_FILENO, 0, 0}};
  const bool polled = ::poll(looked, 3, 0) >= 0;
  for (int fd = 0; fd <= 2; ++fd) {
    // poll cannot watch some devices on macOS either: only fcntl says a descriptor is closed.
    if (polled && (looked[fd].revents & POLLNVAL) == 0) continue;
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // open() takes the lowest free number, which is this one.
      const int null_fd = ::open("/dev/null", O_RDWR);
      if (null_fd >= 0 && null_fd != fd) ::close(null_fd);
    }
  }
  return polled && (looked[0].revents & POLLNVAL) == 0 &&
         (looked[0].revents & kestrum::kInputEnded) != 0;
}

// The event, or nothing when a held signal came before it was all read. A small event needs
// no mapping of its own, which costs more to make and undo than reading it; a large one gets
// all the room at once, so it is never copied but once. A read error ends the input: what
// came so far is the input.
std::optional<std::string> read_input(bool writer_gone) {
  std::string input;
  input.reserve(kSmallInputBytes);
  for (;;) {
    if (g_blocking && !writer_gone) {
      const kestrum::Readiness ready =
          kestrum::wait_until_ready(STDIN_FILENO, kestrum::WaitFor::Reading, std::nullopt);
      if (ready == kestrum::Readiness::Signalled) return std::nullopt;
      writer_gone = ready == kestrum::Readiness::AtEnd;
    }
    const bool small = input.capacity() < kMaxInputBytes;
    if (kestrum::read_some(STDIN_FILENO, small ? kSmallInputBytes : kMaxInputBytes, input) <= 0) {
      return input;
    }
    if (small && input.size() == kSmallInputBytes) {
      input.reserve(kMaxInputBytes);
      kestrum::prefer_huge_pages(input.data() + kLargeInputBytes,
                                 kMaxInputBytes - kLargeInputBytes);
    }
  }
}

enum class Written { Whole, Cut, Signalled };

// Every byte, or as many as the reader took: through partial writes, and through a standard
// output inherited non-blocking, whose flags are the caller's and stay as they are (the hook
// waits for room instead). While signals are held, each write waits for room first, and
// writes no more than fits in a pipe that has any, so that it never blocks where a signal
// could not be noticed.
Written write_answer(int fd, std::string_view bytes) {
  auto give_up_at = kestrum::deadline_after(kestrum::kStalledReaderLimit);
  while (!bytes.empty()) {
    if (g_blocking) {
      const kestrum::Readiness ready =
          kestrum::wait_until_ready(fd, kestrum::WaitFor::Writing, give_up_at);
      if (ready == kestrum::Readiness::Signalled) return Written::Signalled;
      if (ready != kestrum::Readiness::Ready) return Written::Cut;
    }
    const std::size_t size =
        g_blocking ? std::min<std::size_t>(bytes.size(), PIPE_BUF) : bytes.size();
    const ssize_t n = ::write(fd, bytes.data(), size);
    if (n > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(n));
      give_up_at = kestrum::deadline_after(kestrum::kStalledReaderLimit);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (g_blocking) continue;  // the wait above comes first
      const kestrum::Readiness ready =
          kestrum::wait_until_ready(fd, kestrum::WaitFor::Writing, give_up_at);
      if (ready == kestrum::Readiness::Ready) continue;
    }
    return Written::Cut;
  }
  return Written::Whole;
}

// The text and a line feed, in one write where it fits, and without allocating: this
// also ends runs that failed for want of memory.
Written write_line(int fd, std::string_view text) {
  char small[512];
  if (text.size() < sizeof small) {
    std::memcpy(small, text.data(), text.size());
    small[text.size()] = '\n';
    return write_answer(fd, std::string_view(small, text.size() + 1));
  }
  const Written written = write_answer(fd, text);
  return written == Written::Whole ? write_answer(fd, "\n") : written;
}

// An internal failure: blocking events hold the action, every other event stays silent.
// Nothing here allocates, since the failure may have been a failed allocation.
[[noreturn]] void finish_after_failure() {
  if (g_blocking) {
    kestrum::signal_answered();
    write_line(STDERR_FILENO, kestrum::kConfigErrorText);
    ::_exit(2);
  }
  ::_exit(0);
}

[[noreturn]] void finish(const kestrum::Outcome& outcome) {
  const int status = outcome.status <= 255 ? static_cast<int>(outcome.status) : 2;
  // Decided: from here a signal only ends the writing, with this status.
  kestrum::signal_answered();
  if (outcome.out) {
    const Written written = write_line(STDOUT_FILENO, *outcome.out);
    if (written == Written::Signalled) ::_exit(status);
    // A cut answer is no answer, and a lost deny would let the call run: a blocking event
    // holds it then, as after any failure. Elsewhere a reader that went is not our problem.
    if (written == Written::Cut && g_blocking) finish_after_failure();
  }
  if (outcome.err) write_line(STDERR_FILENO, *outcome.err);
  ::_exit(status);
}

// Reports nothing: an exception that escapes ends the run like a caught one.
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

  kestrum::ignore_write_signals();
  const bool writer_gone = reopen_closed_standard_descriptors();
  try {
    // A caller may start us with no words at all, not even our own name.
    std::vector<std::string> args;
    if (argc > 1) args.assign(argv + 1, argv + argc);
    if (args.size() == 1 && args[0] == "--version") {
      write_line(STDOUT_FILENO, kestrum::kVersionLine);
      return 0;
    }
    const std::optional<std::string> input = read_input(writer_gone);
    if (!input) finish_after_failure();
    const kestrum::Env env = kestrum::Env::from_process();
    finish(kestrum::run(args, *input, env));
  } catch (...) {
    finish_after_failure();
  }
}
