#include <signal.h>

#include <initializer_list>

#include "common/signals.hpp"

namespace kestrum {
namespace {

void add(SignalList& list, int sig) {
  if (list.size < SignalList::kCapacity) list.numbers[list.size++] = sig;
}

}  // namespace

SignalList ending_signals() {
  SignalList list;
  for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU,
                  SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO, SIGPWR}) {
    add(list, sig);
  }
  // The real-time signals the C library leaves to programs (it keeps the first few).
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) add(list, sig);
  return list;
}

SignalList fault_signals() {
  SignalList list;
  for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGSYS, SIGTRAP}) add(list, sig);
  return list;
}

}  // namespace kestrum
