// The system's way of watching one descriptor and the held signals at once, for
// signal_wait.cpp alone: signalfd on Linux, kqueue on macOS.
#pragma once

#include <optional>

#include "common/signal_wait.hpp"

namespace kestrum::held_signals {

// One wait of at most `timeout_ms` (-1: no limit). A signal that ends it is taken off the
// pending set, so that a later wait sees only a new one. Nothing when the wait was cut short
// by something other than a held signal: wait again for the time left.
std::optional<Readiness> wait(int fd, WaitFor what, int timeout_ms);

}  // namespace kestrum::held_signals
