// The parts of a Claude Code settings file that the stand-in honours: hook commands per
// event and the status line command.
#pragma once

#include <chrono>
#include <expected>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrum::standin {

struct HookCommand {
  std::string matcher;  // empty: every tool
  std::string command;
  std::chrono::seconds timeout{600};  // Claude Code's default
};

struct Settings {
  std::map<std::string, std::vector<HookCommand>> hooks;  // by event name
  std::optional<std::string> statusline;
};

std::expected<Settings, std::string> load_settings(const std::filesystem::path& file);

// Claude Code's matcher: empty or "*" for every tool, else names separated by "|".
bool matches(const HookCommand& hook, const std::string& tool_name);

}  // namespace kestrum::standin
