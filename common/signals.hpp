// The signals a program catches or holds when it must not end half-way. Any signal whose
// default action ends the process may come, not only SIGTERM, SIGINT and SIGHUP: SIGQUIT from
// a terminal, SIGXCPU at a resource limit, the others from whoever may signal it.
//
// SIGPIPE and SIGXFSZ are not among them: both report a write of our own that failed (a
// closed reader, a file-size limit), and the programs ignore them so that the write fails
// with its error (EPIPE, EFBIG) and is handled as every failed write is. SIGPIPE is never
// caught: a handler could only do what its error does, and children get it back at its
// default action.
#pragma once

#include <signal.h>

#include <cstddef>
#include <initializer_list>

namespace kestrum {

// A fixed-size list, so that setting up handlers allocates nothing.
struct SignalList {
  static constexpr std::size_t kCapacity = 64;
  int numbers[kCapacity];
  std::size_t size = 0;

  SignalList(std::initializer_list<int> signals) {
    for (int sig : signals) add(sig);
  }
  void add(int sig) {
    if (size < kCapacity) numbers[size++] = sig;
  }
  const int* begin() const { return numbers; }
  const int* end() const { return numbers + size; }
};

// Every signal that ends the process by default and can be caught, but for the faults and
// the two write signals.
SignalList ending_signals();

// Those that report a fault of the process itself: a crash.
SignalList fault_signals();

// Sets `handler` for each signal, keeping `previous` (room for each, or null); a signal the
// program was started ignoring (nohup) stays ignored: it ends no wait. The one way the
// programs install handlers.
void install_handler(const SignalList& signals, void (*handler)(int), int flags,
                     struct sigaction* previous = nullptr);

// SIGPIPE and SIGXFSZ ignored (see above). Children are started with both at their default.
void ignore_write_signals();

// A SIGCHLD inherited as ignored would let the system reap our children before we wait for
// them: set back to its default where children are waited for.
void wait_for_children_normally();

inline sigset_t set_of(const SignalList& signals) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : signals) sigaddset(&set, sig);
  return set;
}

}  // namespace kestrum
