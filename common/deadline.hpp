// Deadlines on the monotonic clock. Every wait of both programs is bounded by one; the
// README's table of deadlines says which, how long, and why.
#pragma once

#include <chrono>
#include <optional>

namespace kestrum {

using Clock = std::chrono::steady_clock;

// now + limit, saturated instead of overflowing.
Clock::time_point deadline_after(std::chrono::nanoseconds limit);

// Time left until the deadline; nothing once it is reached.
std::optional<Clock::duration> time_left(Clock::time_point deadline);

}  // namespace kestrum
