#include <sys/socket.h>

#include "common/local_socket.hpp"

namespace kestrum {

UniqueFd open_local_socket() {
  return UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

UniqueFd accept_local(int listener) {
  return UniqueFd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

// Linux has no per-socket switch; each send asks for no signal.
ssize_t send_no_sigpipe(int fd, const char* bytes, std::size_t size) {
  return ::send(fd, bytes, size, MSG_NOSIGNAL);
}

ssize_t send_without_waiting(int fd, const char* bytes, std::size_t size) {
  return ::send(fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
}

}  // namespace kestrum
