#include "common/signals.hpp"

#include <signal.h>

#include <cstddef>

namespace kestrum {

void install_handler(const SignalList& signals, void (*handler)(int), int flags,
                     struct sigaction* previous) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  // A second signal must not interrupt the first one's handler half-way.
  action.sa_mask = set_of(signals);
  for (std::size_t i = 0; i < signals.size; ++i) {
    struct sigaction found {};
    // One call in the common case; the inherited disposition comes back with it.
    if (::sigaction(signals.numbers[i], &action, &found) == 0 && found.sa_handler == SIG_IGN) {
      ::sigaction(signals.numbers[i], &found, nullptr);
    }
    if (previous) previous[i] = found;
  }
}

void ignore_write_signals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, nullptr);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

void wait_for_children_normally() {
  struct sigaction normal {};
  normal.sa_handler = SIG_DFL;
  ::sigaction(SIGCHLD, &normal, nullptr);
}

}  // namespace kestrum
