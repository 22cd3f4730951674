// The signals a program catches when it must not end half-way. Any signal whose default
// action ends the process may come, not only SIGTERM, SIGINT and SIGHUP: SIGQUIT from a
// terminal, SIGXCPU and SIGXFSZ at a resource limit, the others from whoever may signal it.
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

// Every signal that ends the process by default and can be caught, but for the faults.
SignalList ending_signals();

// Those that report a fault of the process itself: a crash.
SignalList fault_signals();

inline sigset_t set_of(const SignalList& signals) {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : signals) sigaddset(&set, sig);
  return set;
}

}  // namespace kestrum
