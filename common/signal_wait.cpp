#include "common/signal_wait.hpp"

#include <poll.h>
#include <signal.h>

#include <cerrno>
#include <limits>

#include "common/held_signals.hpp"
#include "common/signals.hpp"

namespace kestrum {
namespace {

using Clock = std::chrono::steady_clock;

bool g_held = false;
bool g_noticed = false;

// Milliseconds to the deadline, rounded up so that a wait never ends before it; -1 for none.
int timeout_ms(std::optional<Clock::time_point> deadline) {
  if (!deadline) return -1;
  const auto left = *deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                              : static_cast<int>(ms);
}

// What poll says of one descriptor. A descriptor poll cannot watch (POLLNVAL: a device on
// macOS) and an error condition count as ready: the read or write itself then tells.
Readiness readiness_of(short revents, WaitFor what) {
  if (what == WaitFor::Reading && (revents & kInputEnded) != 0) return Readiness::AtEnd;
  return Readiness::Ready;
}

std::optional<Readiness> plain_wait(int fd, WaitFor what, int timeout) {
  pollfd watched{fd, static_cast<short>(what == WaitFor::Writing ? POLLOUT : kReadEvents), 0};
  const int n = ::poll(&watched, 1, timeout);
  if (n < 0) return errno == EINTR ? std::nullopt : std::optional(Readiness::Failed);
  if (n == 0) return Readiness::TimedOut;
  return readiness_of(watched.revents, what);
}

}  // namespace

void hold_ending_signals() {
  const sigset_t set = set_of(ending_signals());
  if (::sigprocmask(SIG_BLOCK, &set, nullptr) == 0) g_held = true;
}

Readiness wait_until_ready(int fd, WaitFor what, std::optional<Clock::time_point> deadline) {
  if (g_held && g_noticed) return Readiness::Signalled;
  for (;;) {
    const int timeout = timeout_ms(deadline);
    const auto result =
        g_held ? held_signals::wait(fd, what, timeout) : plain_wait(fd, what, timeout);
    if (!result) continue;
    if (*result == Readiness::Signalled) g_noticed = true;
    // poll may end a moment early; only the clock says the deadline has passed.
    if (*result == Readiness::TimedOut && timeout_ms(deadline) > 0) continue;
    return *result;
  }
}

bool signal_noticed() {
  return g_noticed;
}

void signal_answered() {
  g_noticed = false;
}

}  // namespace kestrum
