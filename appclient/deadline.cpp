#include "appclient/deadline.hpp"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>

namespace kestrum {

using std::chrono::duration_cast;
using std::chrono::microseconds;

Clock::time_point deadline_after(std::chrono::nanoseconds limit) {
  const Clock::time_point now = Clock::now();
  const auto room = Clock::time_point::max() - now;
  if (limit > room) return Clock::time_point::max();
  return now + duration_cast<Clock::duration>(limit);
}

std::optional<Clock::duration> time_left(Clock::time_point deadline) {
  const Clock::time_point now = Clock::now();
  if (now >= deadline) return std::nullopt;
  return deadline - now;
}

bool set_socket_timeout(int fd, int option, Clock::duration left) {
  const microseconds whole = std::max(duration_cast<microseconds>(left), microseconds(1000));
  timeval tv{};
  tv.tv_sec = static_cast<decltype(tv.tv_sec)>(whole.count() / 1'000'000);
  tv.tv_usec = static_cast<decltype(tv.tv_usec)>(whole.count() % 1'000'000);
  return ::setsockopt(fd, SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

}  // namespace kestrum
