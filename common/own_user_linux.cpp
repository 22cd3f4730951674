#include <sys/auxv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "common/own_user.hpp"

namespace kestrum {

// As the kernel set it at exec, from the auxiliary vector: no system call on the hook's
// start path. These programs never change their user afterwards.
uid_t own_uid() {
  errno = 0;
  const unsigned long euid = ::getauxval(AT_EUID);
  if (euid == 0 && errno == ENOENT) return ::geteuid();
  return static_cast<uid_t>(euid);
}

bool peer_is_own_user(int socket) {
  struct ucred cred {};
  socklen_t len = sizeof cred;
  return ::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == own_uid();
}

}  // namespace kestrum
