#include <signal.h>

#include "common/signals.hpp"

namespace kestrum {

SignalList ending_signals() {
  SignalList list{SIGHUP,    SIGINT,  SIGQUIT,   SIGUSR1, SIGUSR2, SIGALRM, SIGTERM,
                  SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR};
  // The real-time signals the C library leaves to programs (it keeps the first few).
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) list.add(sig);
  return list;
}

SignalList fault_signals() {
  return {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGSYS, SIGTRAP};
}

}  // namespace kestrum
