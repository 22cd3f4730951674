// The development app's decisions, from a small JSON file:
//
//   {"rules": [
//      {"tool": "Bash", "input_contains": "rm -rf", "decision": "deny", "reason": "Not here."},
//      {"tool": "Bash", "input_contains": "git push", "decision": "hold"},
//      {"tool": "Bash", "input_contains": "deploy", "decision": "hold", "then": "deny",
//       "reason": "Not today.", "after_ms": 1500},
//      {"tool": "Write", "decision": "allow"},
//      {"tool": "*", "decision": "ask"}],
//    "prompt_context": "Text added to every prompt.",
//    "remote_sessions": ["<session id>"]}
//
// The first rule whose "tool" matches ("*" matches every tool) and whose "input_contains",
// when given, occurs in the compact tool input decides; "event" ("PreToolUse" or
// "PermissionRequest") limits a rule to one of the two. No matching rule: no opinion. A hold
// without "after_ms" waits for a person at the app; with it, "then" is decided by itself.
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
  std::optional<std::string> event;  // "PreToolUse" or "PermissionRequest" only; else both
  Decision decision = Decision::Allow;
  std::optional<std::string> reason;
  Decision then = Decision::Allow;                 // timed hold only: allow or deny
  std::optional<std::chrono::milliseconds> after;  // Hold: none when a person decides
};

struct Rules {
  std::vector<Rule> rules;
  std::optional<std::string> prompt_context;
  std::vector<std::string> remote_sessions;

  // The first rule for this tool call at this event, or nothing.
  const Rule* match(const std::string& event, const std::string& tool,
                    const Json& tool_input) const;
};

// A one-line message naming the file and the problem on failure.
std::expected<Rules, std::string> load_rules(const std::filesystem::path& file);
std::expected<Rules, std::string> parse_rules(std::string_view text, const std::string& origin);

std::string_view to_string(Decision decision);

}  // namespace kestrum::devapp
