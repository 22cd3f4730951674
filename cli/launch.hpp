// The launcher's decisions, kept apart from the process it runs in: the program's own
// grammar, the texts it shows, the registration it sends, and what it starts from the
// app's reply.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "hook/json.hpp"
#include "launcher/cli.hpp"

namespace kestrum::launch {

inline constexpr std::string_view kVersionLine = "kestrum-cli 0.1.0";
inline constexpr std::string_view kUsageLine = "kestrum: 쓰는 법 — kestrum claude [claude 인자…]";
inline constexpr std::string_view kNotFoundLine =
    "kestrum: 이 기기에 Claude Code 가 없어요. 설치한 뒤 다시 해 주세요";
inline constexpr std::string_view kUnreadableReply = "앱 응답을 읽지 못했어요";

std::string refusal_line(std::string_view refused);
std::string unregistered_notice(std::string_view reason);
// The system error's text and number, as in "... (os error 2)".
std::string launch_failure_line(int error_number);

// What the words after argument zero ask for.
struct Version {};
struct Usage {};
struct Launch {
  std::span<const std::string> leading;  // "--profile"/"--data-dir" pairs, unread
  std::span<const std::string> words;    // everything after `claude`
};
using Command = std::variant<Version, Usage, Launch>;

Command classify(std::span<const std::string> words);

// "cwd", and "mode" and "resume" when the user named them.
Json registration_params(std::string cwd, const cli::LaunchArgs& args);

// Variables the app may set for Claude Code, in the reply's key order.
using AppEnv = std::vector<std::pair<std::string, std::string>>;

struct Plan {
  std::vector<std::string> words;  // after argument zero
  AppEnv app_env;
  std::optional<std::string> notice;  // the unregistered launch's reason
};

// A usable reply gives its "args" then the passthrough words; anything else gives the
// words exactly as typed, without the app's environment, and a reason for the notice.
Plan plan_launch(const std::expected<Json, std::string>& registered,
                 std::span<const std::string> typed, const cli::LaunchArgs& args);

}  // namespace kestrum::launch
