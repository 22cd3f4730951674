#include "hook/cli_register.hpp"

#include <unistd.h>

#include <cstdint>

#include "hook/event.hpp"
#include "hook/profile_options.hpp"
#include "hook/rpc.hpp"
#include "hook/token.hpp"
#include "paths/profile_paths.hpp"

namespace kestrum {
namespace {

constexpr std::string_view kAppNotRunning = "앱이 켜져 있지 않다";

Json hello_params(std::string token) {
  return {
      {"pid", static_cast<std::uint32_t>(::getpid())},
      {"protocol_version", 0u},
      {"role", "cli"},
      {"token", std::move(token)},
  };
}

}  // namespace

std::expected<Json, std::string> cli_register(std::span<const std::string> leading, const Env& env,
                                              Json params, std::chrono::nanoseconds limit) {
  const auto profile = select_profile(leading);
  if (!profile) return std::unexpected("profile: " + describe(profile.error()));
  if (!env.home) return std::unexpected("HOME 이 없다");

  const auto paths =
      ProfilePaths::with_root(choose_data_dir(leading, *env.home, env.dev), *profile);
  if (!paths) return std::unexpected("경로: " + describe(paths.error()));

  // Without a token the app is not up; the socket is not even tried.
  auto token = read_token(paths->token_path());
  if (!token) return std::unexpected(std::string(kAppNotRunning));

  if (!params.is_object()) params = Json::object();
  params["config_dir"] = config_directory(env);

  auto reply = rpc_call(paths->socket_path(), hello_params(std::move(*token)), "launch.register",
                        Delivery::Request, params, limit);
  if (!reply) return std::unexpected(std::string(to_string(reply.error())));
  if (!*reply) return std::unexpected("응답 없음");
  return std::move(**reply);
}

}  // namespace kestrum
