// Which kestrum-hook the launches are pointed at. A settings file naming a hook that is not
// there makes every hook fail as a non-blocking error, and Claude Code then runs every tool
// call unchecked: so the program is found, and checked, before anything is served.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>

namespace kestrum::devapp {

struct HookSearch {
  std::optional<std::filesystem::path> given;  // --hook: used as it stands, or refused
  std::filesystem::path own_dir;               // where this program lives
  std::filesystem::path build_tree_hook;       // the hook the same build made
  std::string search_path;                     // PATH
};

// An absolute path to an executable regular file, or a one-line reason.
std::expected<std::filesystem::path, std::string> find_hook(const HookSearch& search);

bool is_executable_file(const std::filesystem::path& file);

}  // namespace kestrum::devapp
