// The connection attempt is bounded by the socket's send timeout rather than by a worker
// thread: a local connect only waits while the listener's backlog is full, and Linux bounds
// that wait by SO_SNDTIMEO. This costs one system call instead of a thread start on every
// hook run, and no late connection can outlive the caller.
// A macOS local connect never waits: with a full backlog it fails at once with
// ECONNREFUSED, so the caller sees Connect where Linux reports Timeout. Both fall back
// the same way; only the launcher's notice differs.
// A socket served by another user is no app of ours: nothing may be sent to it, the app's
// token least of all, and nothing it says may be believed. It fails as an app that is not
// there does, so that every caller's answer for that case applies.
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

#include "appclient/connection.hpp"
#include "common/local_socket.hpp"
#include "common/own_user.hpp"
#include "common/signal_wait.hpp"

namespace kestrum {
namespace {

std::optional<sockaddr_un> local_address(const std::filesystem::path& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string& bytes = path.native();
  // The terminating NUL must fit too.
  if (bytes.empty() || bytes.size() >= sizeof address.sun_path) return std::nullopt;
  std::memcpy(address.sun_path, bytes.data(), bytes.size());
  return address;
}

bool is_timeout(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT || error == EINPROGRESS;
}

std::expected<UniqueFd, RpcError> served_by_own_user(UniqueFd socket) {
  if (!peer_is_own_user(socket.get())) return std::unexpected(RpcError::Connect);
  return socket;
}

}  // namespace

std::expected<UniqueFd, RpcError> connect_with_timeout(const std::filesystem::path& socket_path,
                                                       std::chrono::nanoseconds limit) {
  const Clock::time_point deadline = deadline_after(limit);
  // Once a held signal has ended a wait, nothing new is begun (common/signal_wait.hpp).
  if (signal_noticed()) return std::unexpected(RpcError::Timeout);
  const auto address = local_address(socket_path);
  if (!address) return std::unexpected(RpcError::Connect);
  UniqueFd socket = open_local_socket();
  if (!socket) return std::unexpected(RpcError::Connect);

  for (;;) {
    const auto left = time_left(deadline);
    if (!left) return std::unexpected(RpcError::Timeout);
    if (!set_socket_timeout(socket.get(), SO_SNDTIMEO, *left)) {
      return std::unexpected(RpcError::Connect);
    }
    // The sockets API takes the generic address type.
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) ==
        0) {
      return served_by_own_user(std::move(socket));
    }
    const int error = errno;
    if (error == EINTR) continue;  // an interrupted wait; the attempt goes on
    if (error == EISCONN) return served_by_own_user(std::move(socket));
    if (is_timeout(error)) return std::unexpected(RpcError::Timeout);
    return std::unexpected(RpcError::Connect);
  }
}

}  // namespace kestrum
