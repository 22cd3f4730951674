#include "common/deadline.hpp"

namespace kestrum {

Clock::time_point deadline_after(std::chrono::nanoseconds limit) {
  const Clock::time_point now = Clock::now();
  const auto room = Clock::time_point::max() - now;
  if (limit > room) return Clock::time_point::max();
  return now + std::chrono::duration_cast<Clock::duration>(limit);
}

std::optional<Clock::duration> time_left(Clock::time_point deadline) {
  const Clock::time_point now = Clock::now();
  if (now >= deadline) return std::nullopt;
  return deadline - now;
}

}  // namespace kestrum
