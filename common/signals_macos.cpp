#include <signal.h>

#include <initializer_list>

#include "common/signals.hpp"

namespace kestrum {
namespace {

void add(SignalList& list, int sig) {
  if (list.size < SignalList::kCapacity) list.numbers[list.size++] = sig;
}

}  // namespace

// SIGIO, SIGURG, SIGWINCH and SIGINFO are ignored by default here; there are no real-time
// signals.
SignalList ending_signals() {
  SignalList list;
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ,
                  SIGVTALRM, SIGPROF}) {
    add(list, sig);
  }
  return list;
}

SignalList fault_signals() {
  SignalList list;
  for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGSYS, SIGTRAP, SIGEMT}) {
    add(list, sig);
  }
  return list;
}

}  // namespace kestrum
