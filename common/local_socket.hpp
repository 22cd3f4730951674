// The local stream socket operations that differ between Linux and macOS.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "common/unique_fd.hpp"

namespace kestrum {

// A blocking local stream socket, close-on-exec, whose sends never raise SIGPIPE; an
// empty descriptor when the system refuses one.
UniqueFd open_local_socket();

// accept(2) for a listener of ours: the connection gets the same properties.
UniqueFd accept_local(int listener);

// send(2) that reports a closed peer as EPIPE instead of raising SIGPIPE.
ssize_t send_no_sigpipe(int fd, const char* bytes, std::size_t size);

// The same, but it never waits for room: what fits now is sent, and with none, EAGAIN.
ssize_t send_without_waiting(int fd, const char* bytes, std::size_t size);

}  // namespace kestrum
