// Where a program must answer a signal with more than dying (the hook's blocking events), the
// signals that would end it are held from the first instruction, in one call, and noticed as
// events where the program waits: a wait ends early when one comes. Holding costs one system
// call where a handler per signal cost about fifty, on every run, and the answer is then
// chosen by ordinary code rather than from inside a handler.
//
// Only the waits below notice a held signal. A signal that comes while the program computes
// is noticed at its next wait, at the latest when the answer is written. A connect that waits
// for room in a full listen queue is bounded by its own deadline, not by this.
#pragma once

#include <poll.h>

#include <chrono>
#include <optional>

namespace kestrum {

// What to ask poll for when reading, and what says the reader will get no more than is there:
// a pipe's writer gone (POLLHUP), and on Linux a socket's peer done writing (POLLRDHUP).
#if defined(POLLRDHUP)
inline constexpr short kReadEvents = POLLIN | POLLRDHUP;
inline constexpr short kInputEnded = POLLHUP | POLLRDHUP;
#else
inline constexpr short kReadEvents = POLLIN;
inline constexpr short kInputEnded = POLLHUP;
#endif

// Blocks every signal of `ending_signals()` for the rest of the process. Children started
// later clear their mask themselves.
void hold_ending_signals();

enum class Readiness {
  Ready,      // the descriptor is ready for what was asked
  AtEnd,      // ready, and the other end is gone: later reads will not block either
  Signalled,  // a held signal came, now or earlier in this run
  TimedOut,
  Failed,  // the wait itself failed: treat like an error of the descriptor
};

enum class WaitFor { Reading, Writing };

// Waits until `fd` is ready for `what`, or the deadline passes (none: no limit). While signals are
// held, a signal that comes ends the wait, and so does one already noticed by an earlier wait: once
// signalled, no wait starts again. A descriptor the system cannot watch (a device on macOS) counts
// as ready.
Readiness wait_until_ready(int fd, WaitFor what,
                           std::optional<std::chrono::steady_clock::time_point> deadline);

// Whether a held signal has been noticed and not yet answered.
bool signal_noticed();

// The program has decided its answer in view of the signals noticed so far: from here only a
// new signal ends a wait.
void signal_answered();

}  // namespace kestrum
