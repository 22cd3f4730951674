#include <fcntl.h>
#include <sys/socket.h>

#include "common/local_socket.hpp"

namespace kestrum {

// macOS has neither SOCK_CLOEXEC nor MSG_NOSIGNAL; both are set on the socket itself,
// and the SIGPIPE switch also covers every duplicate of the descriptor.
namespace {

UniqueFd with_socket_flags(UniqueFd fd) {
  if (!fd) return fd;
  const int on = 1;
  if (::fcntl(fd.get(), F_SETFD, FD_CLOEXEC) != 0 ||
      ::setsockopt(fd.get(), SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) {
    return UniqueFd();
  }
  return fd;
}

}  // namespace

UniqueFd open_local_socket() {
  return with_socket_flags(UniqueFd(::socket(AF_UNIX, SOCK_STREAM, 0)));
}

UniqueFd accept_local(int listener) {
  UniqueFd fd = with_socket_flags(UniqueFd(::accept(listener, nullptr, nullptr)));
  // The connection inherits a non-blocking listener's O_NONBLOCK here, unlike on Linux;
  // callers rely on a blocking socket.
  if (!fd) return fd;
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return UniqueFd();
  return fd;
}

ssize_t send_no_sigpipe(int fd, const char* bytes, std::size_t size) {
  return ::send(fd, bytes, size, 0);
}

ssize_t send_without_waiting(int fd, const char* bytes, std::size_t size) {
  return ::send(fd, bytes, size, MSG_DONTWAIT);
}

}  // namespace kestrum
