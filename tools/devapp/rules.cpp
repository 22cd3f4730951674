#include "tools/devapp/rules.hpp"

#include "common/fd_io.hpp"

namespace kestrum::devapp {
namespace {

std::optional<Decision> decision_of(std::string_view word) {
  if (word == "allow") return Decision::Allow;
  if (word == "ask") return Decision::Ask;
  if (word == "deny") return Decision::Deny;
  if (word == "hold") return Decision::Hold;
  return std::nullopt;
}

std::expected<Rule, std::string> parse_rule(const Json& entry, std::size_t index) {
  const std::string where = "rule " + std::to_string(index + 1) + ": ";
  if (!entry.is_object()) return std::unexpected(where + "not an object");
  Rule rule;
  const std::string* tool = string_member(entry, "tool");
  if (!tool) return std::unexpected(where + "\"tool\" must be a string");
  rule.tool = *tool;
  if (const std::string* needle = string_member(entry, "input_contains")) {
    rule.input_contains = *needle;
  }
  if (const Json* event = member(entry, "event")) {
    if (*event != "PreToolUse" && *event != "PermissionRequest") {
      return std::unexpected(where + "\"event\" must be PreToolUse or PermissionRequest");
    }
    rule.event = event->get<std::string>();
  }
  const std::string* word = string_member(entry, "decision");
  const auto decision = word ? decision_of(*word) : std::nullopt;
  if (!decision) {
    return std::unexpected(where + "unknown decision " +
                           (word ? "\"" + *word + "\"" : std::string("(missing)")) +
                           " (allow, ask, deny or hold)");
  }
  rule.decision = *decision;
  if (const std::string* reason = string_member(entry, "reason")) rule.reason = *reason;
  if (rule.decision == Decision::Hold) {
    const Json* after = member(entry, "after_ms");
    const std::string* then = string_member(entry, "then");
    if (!after) {
      if (then)
        return std::unexpected(where + "\"then\" needs \"after_ms\" (else a person decides)");
      return rule;
    }
    if (!after->is_number_unsigned()) {
      return std::unexpected(where + "\"after_ms\" must be a whole number");
    }
    rule.after = std::chrono::milliseconds(after->get<std::uint64_t>());
    const auto final_decision = then ? decision_of(*then) : std::optional(Decision::Allow);
    if (!final_decision || *final_decision == Decision::Hold || *final_decision == Decision::Ask) {
      return std::unexpected(where + "\"then\" of a hold must be allow or deny");
    }
    rule.then = *final_decision;
  }
  return rule;
}

}  // namespace

std::string_view to_string(Decision decision) {
  switch (decision) {
    case Decision::Allow:
      return "allow";
    case Decision::Ask:
      return "ask";
    case Decision::Deny:
      return "deny";
    case Decision::Hold:
      return "hold";
  }
  return "";
}

const Rule* Rules::match(const std::string& event, const std::string& tool,
                         const Json& tool_input) const {
  const std::string input = dump_compact(tool_input);
  for (const Rule& rule : rules) {
    if (rule.event && *rule.event != event) continue;
    if (rule.tool != "*" && rule.tool != tool) continue;
    if (rule.input_contains && input.find(*rule.input_contains) == std::string::npos) continue;
    return &rule;
  }
  return nullptr;
}

std::expected<Rules, std::string> parse_rules(std::string_view text, const std::string& origin) {
  const auto doc = parse_json(text);
  if (!doc) return std::unexpected(origin + ": not valid JSON");
  if (!doc->is_object()) return std::unexpected(origin + ": must be a JSON object");
  Rules rules;
  if (const Json* list = member(*doc, "rules")) {
    if (!list->is_array()) return std::unexpected(origin + ": \"rules\" must be an array");
    for (std::size_t i = 0; i < list->size(); ++i) {
      auto rule = parse_rule((*list)[i], i);
      if (!rule) return std::unexpected(origin + ": " + rule.error());
      rules.rules.push_back(std::move(*rule));
    }
  }
  if (const Json* context = member(*doc, "prompt_context")) {
    if (!context->is_string()) {
      return std::unexpected(origin + ": \"prompt_context\" must be a string");
    }
    rules.prompt_context = context->get<std::string>();
  }
  if (const Json* remote = member(*doc, "remote_sessions")) {
    if (!remote->is_array()) {
      return std::unexpected(origin + ": \"remote_sessions\" must be an array of strings");
    }
    for (const Json& id : *remote) {
      if (!id.is_string() || id.get_ref<const std::string&>().empty()) {
        return std::unexpected(origin + ": \"remote_sessions\" must be an array of strings");
      }
      rules.remote_sessions.push_back(id.get<std::string>());
    }
  }
  return rules;
}

std::expected<Rules, std::string> load_rules(const std::filesystem::path& file) {
  const auto text = read_named_file(file, 1 << 20);
  if (!text) return std::unexpected(file.string() + ": cannot be read");
  return parse_rules(*text, file.string());
}

}  // namespace kestrum::devapp
