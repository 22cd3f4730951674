#include "launcher/register.hpp"

#include <unistd.h>

#include <cstdint>

#include "profile/token.hpp"

namespace kestrum::launcher {
namespace {

Json hello_params(std::string token) {
  return {
      {"pid", static_cast<std::uint32_t>(::getpid())},
      {"protocol_version", 0u},
      {"role", "cli"},
      {"token", std::move(token)},
  };
}

}  // namespace

std::expected<Json, RegisterError> cli_register(std::span<const std::string> leading,
                                                const ProfileEnv& env, Json params,
                                                std::chrono::nanoseconds limit) {
  const auto paths = resolve_profile_paths(leading, env);
  if (!paths) {
    return std::unexpected(std::visit([](auto e) { return RegisterError(e); }, paths.error()));
  }
  auto token = read_token(paths->token_path());
  if (!token) return std::unexpected(AppNotRunning{});

  if (!params.is_object()) params = Json::object();
  params["config_dir"] = config_directory(env);

  auto session = AppSession::open(paths->socket_path(), hello_params(std::move(*token)), limit);
  if (!session) return std::unexpected(session.error());
  auto reply = session->call("launch.register", params);
  if (!reply) return std::unexpected(reply.error());
  return std::move(*reply);
}

}  // namespace kestrum::launcher
