// The word filter between `kestrum claude` and Claude Code: which words pass through,
// which are taken over for the app, and which are refused because they would switch
// off what the app enforces.
#pragma once

#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrum::launcher {

struct LaunchArgs {
  std::vector<std::string> passthrough;  // for Claude Code, as typed
  std::optional<std::string> mode;       // "auto", "plan", "default" or "acceptEdits"
  std::optional<std::string> resume;     // conversation to resume
};

// The word (or word and value) that is not allowed.
using Refusal = std::string;

// `words` are the words after `claude`. Reads nothing else.
std::expected<LaunchArgs, Refusal> parse(std::span<const std::string> words);

}  // namespace kestrum::launcher
