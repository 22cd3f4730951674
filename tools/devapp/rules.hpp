// The development app's decisions, from a small JSON file:
//
//   {"rules": [
//      {"tool": "Bash", "input_contains": "rm -rf", "decision": "deny", "reason": "Not here."},
//      {"tool": "Bash", "input_contains": "git push", "decision": "hold", "then": "allow",
//       "after_ms": 1500},
//      {"tool": "Write", "decision": "allow"},
//      {"tool": "*", "decision": "ask"}],
//    "prompt_context": "Text added to every prompt.",
//    "remote_sessions": ["<session id>"]}
//
// The first rule whose "tool" matches ("*" matches every tool) and whose "input_contains",
// when given, occurs in the compact tool input decides. No matching rule: no opinion.
#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/json.hpp"

namespace kestrum::devapp {

enum class Decision { Allow, Ask, Deny, Hold };

struct Rule {
  std::string tool;
  std::optional<std::string> input_contains;
  Decision decision = Decision::Allow;
  std::optional<std::string> reason;
  Decision then = Decision::Allow;  // Hold only: allow or deny
  std::chrono::milliseconds after{1000};
};

struct Rules {
  std::vector<Rule> rules;
  std::optional<std::string> prompt_context;
  std::vector<std::string> remote_sessions;

  // The first rule for this tool call, or nothing.
  const Rule* match(const std::string& tool, const Json& tool_input) const;
};

// A one-line message naming the file and the problem on failure.
std::expected<Rules, std::string> load_rules(const std::filesystem::path& file);
std::expected<Rules, std::string> parse_rules(std::string_view text, const std::string& origin);

std::string_view to_string(Decision decision);

}  // namespace kestrum::devapp
