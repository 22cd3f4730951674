// The search path for Claude Code: the user's PATH plus the usual install directories.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrum::env {

// `path` is PATH (absent when unset or not UTF-8), `home` is HOME as raw bytes. The
// install directories missing from PATH are appended in a fixed order; PATH's own
// entries, duplicates included, stay as they are.
std::string fallback_path(std::optional<std::string_view> path,
                          const std::optional<std::filesystem::path>& home);

}  // namespace kestrum::env
