#include "tools/standin_claude/settings.hpp"

#include "common/fd_io.hpp"
#include "common/json.hpp"

namespace kestrum::standin {

std::expected<Settings, std::string> load_settings(const std::filesystem::path& file) {
  const auto text = read_named_file(file, 1 << 22);
  if (!text) return std::unexpected("cannot read " + file.string());
  const auto doc = parse_json(*text);
  if (!doc || !doc->is_object()) return std::unexpected(file.string() + " is not a JSON object");
  Settings settings;
  if (const Json* hooks = object_member(*doc, "hooks")) {
    for (const auto& [event, groups] : hooks->items()) {
      if (!groups.is_array()) continue;
      for (const Json& group : groups) {
        const std::string* matcher = string_member(group, "matcher");
        const Json* commands = member(group, "hooks");
        if (!commands || !commands->is_array()) continue;
        for (const Json& entry : *commands) {
          const std::string* command = string_member(entry, "command");
          if (!command) continue;
          HookCommand hook{matcher ? *matcher : "", *command, std::chrono::seconds(600)};
          if (const Json* t = member(entry, "timeout"); t && t->is_number_unsigned()) {
            hook.timeout = std::chrono::seconds(t->get<std::uint64_t>());
          }
          settings.hooks[event].push_back(std::move(hook));
        }
      }
    }
  }
  if (const Json* line = object_member(*doc, "statusLine")) {
    if (const std::string* command = string_member(*line, "command"))
      settings.statusline = *command;
  }
  return settings;
}

bool matches(const HookCommand& hook, const std::string& tool_name) {
  if (hook.matcher.empty() || hook.matcher == "*") return true;
  std::string_view rest = hook.matcher;
  while (true) {
    const std::size_t bar = rest.find('|');
    if (rest.substr(0, bar) == tool_name) return true;
    if (bar == std::string_view::npos) return false;
    rest.remove_prefix(bar + 1);
  }
}

}  // namespace kestrum::standin
