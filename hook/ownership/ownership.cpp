#include "hook/ownership/ownership.hpp"

#include <chrono>

#include "appclient/app_session.hpp"
#include "common/deadline.hpp"
#include "common/json.hpp"
#include "common/proc.hpp"
#include "common/utf8.hpp"
#include "hook/ownership/skip_marker.hpp"
#include "hook/ownership/socket_shape.hpp"
#include "profile/token.hpp"

namespace kestrum::ownership {
namespace {

std::optional<std::uint32_t> current_desktop(const Env& env) {
  return env.desktop_pid ? env.desktop_pid() : std::nullopt;
}

Ownership decide_from_marker(std::uint64_t recorded, const Env& env) {
  if (recorded < 2) return Ownership::NotOwned;
  const auto desktop = current_desktop(env);
  return desktop && *desktop == recorded ? Ownership::OwnedElsewhere : Ownership::NotOwned;
}

Json probe_hello(const Env& env, const std::string& token) {
  return Json{
      {"pid", env.reported_pid()}, {"protocol_version", 0u}, {"role", "probe"}, {"token", token}};
}

bool confirms_ownership(const Json& answer) {
  const Json* owned = member(answer, "owned");
  return owned && owned->is_boolean() && owned->get<bool>();
}

// The process id of the desktop app that confirmed owning this launch, when the app at
// the other end of `socket` is the one this hook runs under, before and after it answered.
std::optional<std::uint32_t> confirmed_owner(const Env& env, const std::filesystem::path& socket) {
  const auto token = read_token(token_path_beside(socket));
  if (!token) return std::nullopt;
  std::optional<std::uint32_t> peer;
  // The greeting carries the token: only the app this hook runs under may read it.
  const auto is_our_desktop = [&](int connected) {
    peer = proc::peer_pid(connected);
    return peer && *peer >= 2 && current_desktop(env) == peer;
  };
  auto session = AppSession::open(socket, probe_hello(env, *token), kProbeLimit, is_our_desktop);
  if (!session) return std::nullopt;
  const auto answer = session->call("launch_owned", Json{{"launch_token", *env.launch_token}});
  if (!answer || !confirms_ownership(*answer)) return std::nullopt;
  if (current_desktop(env) != peer) return std::nullopt;
  return peer;
}

}  // namespace

Ownership launch_ownership(const Env& env, const ProfilePaths& paths,
                           const std::optional<std::string>& session_id) {
  if (!env.socket || !env.launch_token) return Ownership::NotOwned;
  const std::filesystem::path& socket = *env.socket;
  if (same_socket_path(socket, paths.socket_path())) return Ownership::NotOwned;
  if (!is_instance_socket(socket)) return Ownership::NotOwned;
  // The marker records the socket as text; a path that is no text cannot be recorded.
  if (!is_valid_utf8(socket.native())) return Ownership::NotOwned;

  const auto marker = skip_marker_path(paths, session_id);
  if (marker) {
    if (const auto recorded = read_skip_marker(*marker, socket.native())) {
      return decide_from_marker(*recorded, env);
    }
  }
  const auto owner = confirmed_owner(env, socket);
  if (!owner) return Ownership::NotOwned;
  if (marker) write_skip_marker(*marker, *owner, socket.native());
  return Ownership::OwnedElsewhere;
}

}  // namespace kestrum::ownership
