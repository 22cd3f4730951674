// Socket timeouts derived from a deadline, shared by the client's connect, send and receive.
#pragma once

#include <optional>

#include "hook/rpc.hpp"

namespace kestrum {

// Time left until the deadline; nothing once it is reached.
std::optional<Clock::duration> time_left(Clock::time_point deadline);

// Sets SO_SNDTIMEO or SO_RCVTIMEO to `left`, but never below 1 ms: a zero timeout would
// mean "wait for ever".
bool set_socket_timeout(int fd, int option, Clock::duration left);

}  // namespace kestrum
