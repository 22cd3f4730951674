#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "common/held_signals.hpp"
#include "common/signals.hpp"

namespace kestrum::held_signals {
namespace {

// Made at the first wait and kept for the process, so that a run which never waits never
// pays for it. It reports the held signals that came before it was made, too.
int signal_fd() {
  static int fd = -1;
  if (fd < 0) {
    const sigset_t set = set_of(ending_signals());
    fd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  }
  return fd;
}

}  // namespace

std::optional<Readiness> wait(int fd, WaitFor what, int timeout_ms) {
  const int signals = signal_fd();
  if (signals < 0) return Readiness::Failed;
  pollfd watched[2] = {
      {fd, static_cast<short>(what == WaitFor::Writing ? POLLOUT : kReadEvents), 0},
      {signals, POLLIN, 0}};
  const int n = ::poll(watched, 2, timeout_ms);
  if (n < 0) return errno == EINTR ? std::nullopt : std::optional(Readiness::Failed);
  if (n == 0) return Readiness::TimedOut;
  if (watched[1].revents != 0) {
    signalfd_siginfo taken;
    [[maybe_unused]] const ssize_t got = ::read(signals, &taken, sizeof taken);
    return Readiness::Signalled;
  }
  if (what == WaitFor::Reading && (watched[0].revents & kInputEnded) != 0) return Readiness::AtEnd;
  return Readiness::Ready;
}

}  // namespace kestrum::held_signals
