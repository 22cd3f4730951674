// Deadlines on the monotonic clock, and the socket timeouts derived from them: every wait
// of the client is bounded by one of these.
#pragma once

#include <chrono>
#include <optional>

namespace kestrum {

using Clock = std::chrono::steady_clock;

// now + limit, saturated instead of overflowing.
Clock::time_point deadline_after(std::chrono::nanoseconds limit);

// Time left until the deadline; nothing once it is reached.
std::optional<Clock::duration> time_left(Clock::time_point deadline);

// Sets SO_SNDTIMEO or SO_RCVTIMEO to `left`, but never below 1 ms: a zero timeout would
// mean "wait for ever".
bool set_socket_timeout(int fd, int option, Clock::duration left);

}  // namespace kestrum
