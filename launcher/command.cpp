#include "launcher/command.hpp"

#include "launcher/messages.hpp"

#include <algorithm>

namespace kestrum::launcher {
namespace {

constexpr std::string_view kAllowedAppEnv[] = {
    "KESTRUM_SOCKET",       "KESTRUM_DATA_DIR",        "CLAUDE_CONFIG_DIR",
    "KESTRUM_LAUNCH_TOKEN", "KESTRUM_USER_STATUSLINE",
};

bool is_allowed(std::string_view name) {
  return std::ranges::find(kAllowedAppEnv, name) != std::end(kAllowedAppEnv);
}

// The reply's "args" when it is an array of strings only.
std::optional<std::vector<std::string>> reply_args(const Json& reply) {
  const Json* args = member(reply, "args");
  if (!args || !args->is_array()) return std::nullopt;
  std::vector<std::string> words;
  words.reserve(args->size());
  for (const Json& word : *args) {
    if (!word.is_string()) return std::nullopt;
    words.push_back(word.get<std::string>());
  }
  return words;
}

AppEnv reply_env(const Json& reply) {
  AppEnv accepted;
  const Json* env = object_member(reply, "env");
  if (!env) return accepted;
  for (const auto& [name, value] : env->items()) {
    if (value.is_string() && is_allowed(name))
      accepted.emplace_back(name, value.get<std::string>());
  }
  return accepted;
}

Plan unregistered(std::string reason, std::span<const std::string> typed) {
  return {{typed.begin(), typed.end()}, {}, std::move(reason)};
}

}  // namespace

Invocation classify(std::span<const std::string> words) {
  if (words.empty()) return Usage{};
  if (words.size() == 1 && words[0] == "--version") return Version{};
  std::size_t at = 0;
  // Each leading option takes the next word as its value, whatever it is.
  while (at < words.size() && (words[at] == "--profile" || words[at] == "--data-dir")) at += 2;
  if (at >= words.size() || words[at] != "claude") return Usage{};
  return Launch{words.first(at), words.subspan(at + 1)};
}

Json registration_params(std::string cwd, const LaunchArgs& args) {
  Json params = {{"cwd", std::move(cwd)}};
  if (args.mode) params["mode"] = *args.mode;
  if (args.resume) params["resume"] = *args.resume;
  return params;
}

Plan plan_launch(const std::expected<Json, RegisterError>& registered,
                 std::span<const std::string> typed, const LaunchArgs& args) {
  if (!registered) return unregistered(unregistered_reason(registered.error()), typed);
  auto words = reply_args(*registered);
  if (!words) return unregistered(std::string(kUnreadableReply), typed);
  words->insert(words->end(), args.passthrough.begin(), args.passthrough.end());
  return {std::move(*words), reply_env(*registered), std::nullopt};
}

}  // namespace kestrum::launcher
