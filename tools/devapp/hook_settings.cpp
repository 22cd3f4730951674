#include "tools/devapp/hook_settings.hpp"

#include "hook/events.hpp"

namespace kestrum::devapp {
namespace {

std::string shell_quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace

std::string exec_command(const std::filesystem::path& program, const std::string& words) {
  return "exec " + shell_quoted(program.string()) + " " + words;
}

Json hook_settings(const std::filesystem::path& hook_program, const std::string& profile) {
  Json hooks = Json::object();
  for (const EventKind& event : all_events()) {
    Json command = {
        {"command", exec_command(hook_program, std::string(event.name) + " --profile " + profile)},
        {"type", "command"}};
    if (event.waits_for_person) {
      command["timeout"] = kHumanWaitHookTimeout;
    }
    hooks[std::string(event.name)] = Json::array({Json{{"hooks", Json::array({command})}}});
  }
  return {{"hooks", std::move(hooks)},
          {"statusLine",
           {{"command", exec_command(hook_program, "statusline --profile " + profile)},
            {"refreshInterval", 1},
            {"type", "command"}}}};
}

}  // namespace kestrum::devapp
