// The launcher's decisions, kept apart from the process it runs in: the program's own
// grammar, the registration it sends, and what it starts from the app's reply.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/json.hpp"
#include "launcher/register.hpp"
#include "launcher/words.hpp"

namespace kestrum::launcher {

// What the words after argument zero ask for.
struct Version {};
struct Usage {};
struct Launch {
  std::span<const std::string> leading;  // "--profile"/"--data-dir" pairs, unread
  std::span<const std::string> words;    // everything after `claude`
};
using Invocation = std::variant<Version, Usage, Launch>;

Invocation classify(std::span<const std::string> words);

// "cwd", and "mode" and "resume" when the user named them.
Json registration_params(std::string cwd, const LaunchArgs& args);

// Variables the app may set for Claude Code, in the reply's key order.
using AppEnv = std::vector<std::pair<std::string, std::string>>;

struct Plan {
  std::vector<std::string> words;  // after argument zero
  AppEnv app_env;
  std::optional<std::string> notice;  // the unregistered launch's reason
};

// A usable reply gives its "args" then the passthrough words; anything else gives the
// words exactly as typed, without the app's environment, and a reason for the notice.
Plan plan_launch(const std::expected<Json, RegisterError>& registered,
                 std::span<const std::string> typed, const LaunchArgs& args);

}  // namespace kestrum::launcher
