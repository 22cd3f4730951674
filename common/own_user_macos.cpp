#include <unistd.h>

#include "common/own_user.hpp"

namespace kestrum {

uid_t own_uid() {
  return ::geteuid();
}

// The peer's effective user id as it was when it listened (LOCAL_PEERCRED underneath).
bool peer_is_own_user(int socket) {
  uid_t uid = 0;
  gid_t gid = 0;
  return ::getpeereid(socket, &uid, &gid) == 0 && uid == own_uid();
}

}  // namespace kestrum
