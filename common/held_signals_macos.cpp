#include <signal.h>
#include <sys/event.h>
#include <unistd.h>

#include <cerrno>

#include "common/held_signals.hpp"
#include "common/signals.hpp"

namespace kestrum::held_signals {
namespace {

// A kqueue reports a signal sent after the signal was registered with it, blocked or not;
// one that came between the hold and the registration is still pending, and is looked for
// once the queue is made.
struct SignalQueue {
  int fd = -1;
  bool pending_before = false;
};

SignalQueue& signal_queue() {
  static SignalQueue queue;
  if (queue.fd >= 0) return queue;
  const int fd = ::kqueue();
  if (fd < 0) return queue;
  const SignalList signals = ending_signals();
  struct kevent changes[SignalList::kCapacity];
  int count = 0;
  for (int sig : signals) {
    EV_SET(&changes[count], sig, EVFILT_SIGNAL, EV_ADD, 0, 0, nullptr);
    ++count;
  }
  if (::kevent(fd, changes, count, nullptr, 0, nullptr) != 0) {
    ::close(fd);
    return queue;
  }
  queue.fd = fd;
  sigset_t pending;
  sigemptyset(&pending);
  if (::sigpending(&pending) == 0) {
    for (int sig : signals)
      queue.pending_before = queue.pending_before || sigismember(&pending, sig);
  }
  return queue;
}

// Takes the held signals that are pending off the pending set.
void take_pending() {
  const sigset_t held = set_of(ending_signals());
  sigset_t pending;
  sigemptyset(&pending);
  if (::sigpending(&pending) != 0) return;
  for (int sig : ending_signals()) {
    if (sigismember(&pending, sig) && sigismember(&held, sig)) {
      sigset_t one;
      sigemptyset(&one);
      sigaddset(&one, sig);
      int taken = 0;
      ::sigwait(&one, &taken);
    }
  }
}

}  // namespace

std::optional<Readiness> wait(int fd, WaitFor what, int timeout_ms) {
  SignalQueue& queue = signal_queue();
  if (queue.fd < 0) return Readiness::Failed;
  if (queue.pending_before) {
    queue.pending_before = false;
    take_pending();
    return Readiness::Signalled;
  }
  const short filter = what == WaitFor::Writing ? EVFILT_WRITE : EVFILT_READ;
  struct kevent change;
  EV_SET(&change, fd, filter, EV_ADD | EV_ONESHOT, 0, 0, nullptr);
  struct kevent events[4];
  timespec timeout{timeout_ms / 1000, static_cast<long>(timeout_ms % 1000) * 1000000L};
  const int n = ::kevent(queue.fd, &change, 1, events, 4, timeout_ms < 0 ? nullptr : &timeout);
  if (n < 0) return errno == EINTR ? std::nullopt : std::optional(Readiness::Failed);
  if (n == 0) return Readiness::TimedOut;
  std::optional<Readiness> ready;
  for (int i = 0; i < n; ++i) {
    const struct kevent& event = events[i];
    if (event.filter == EVFILT_SIGNAL) {
      take_pending();
      return Readiness::Signalled;
    }
    // An event of an earlier wait on another descriptor or for the other direction is stale.
    if (event.ident != static_cast<uintptr_t>(fd) || event.filter != filter) continue;
    // EV_ERROR: the system cannot watch this descriptor (some devices); the call itself tells.
    if ((event.flags & EV_ERROR) == 0 && what == WaitFor::Reading && (event.flags & EV_EOF) != 0) {
      ready = Readiness::AtEnd;
    } else {
      ready = Readiness::Ready;
    }
  }
  return ready;  // nothing of ours: wait again
}

}  // namespace kestrum::held_signals
