#include <signal.h>

#include "common/signals.hpp"

namespace kestrum {

// SIGIO, SIGURG, SIGWINCH and SIGINFO are ignored by default here; there are no real-time
// signals.
SignalList ending_signals() {
  return {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF};
}

SignalList fault_signals() {
  return {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGSYS, SIGTRAP, SIGEMT};
}

}  // namespace kestrum
