// The search path for Claude Code: the user's PATH plus the usual install directories,
// and finding an executable on it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrum::launcher {

// The entries between the ":" separators, empty ones included, as a shell reads PATH.
std::vector<std::string_view> path_entries(std::string_view search_path);

// `path` is PATH (absent when unset or not UTF-8), `home` is HOME as raw bytes. The
// install directories missing from PATH are appended in a fixed order (those under HOME
// only for an absolute HOME without ":"); PATH's own non-empty entries, duplicates
// included, stay as they are.
std::string fallback_path(std::optional<std::string_view> path,
                          const std::optional<std::filesystem::path>& home);

// The first `dir/name` that is (after following symbolic links) a regular file with an
// execute bit set for anyone. Whether this user may run it is for the exec to find out.
// Only absolute directories are searched: a relative entry would make the result depend
// on where the user stands.
std::optional<std::filesystem::path> find_in_path(std::string_view search_path,
                                                  std::string_view name);

}  // namespace kestrum::launcher
