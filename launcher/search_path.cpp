#include "launcher/search_path.hpp"

#include <sys/stat.h>

#include <algorithm>

#include "common/utf8.hpp"

namespace kestrum::launcher {
namespace {

constexpr std::string_view kHomeInstallDirs[] = {
    ".local/bin",
    ".claude/local",
    ".npm-global/bin",
    ".bun/bin",
};

constexpr std::string_view kSystemInstallDirs[] = {
    "/opt/homebrew/bin",
    "/usr/local/bin",
};

// A relative or empty home would put directories relative to wherever Claude Code stands on
// its PATH, and a ":" would split one directory into several (an empty one is the current
// directory).
bool usable_home(const std::string& home) {
  return home.starts_with('/') && home.find(':') == std::string::npos;
}

std::string under_home(const std::string& home, std::string_view relative) {
  std::string joined = home;
  if (!joined.ends_with('/')) joined += '/';
  joined += relative;
  return to_utf8_lossy(joined);
}

void append_if_missing(std::vector<std::string>& entries, std::string entry) {
  if (std::ranges::find(entries, entry) == entries.end()) entries.push_back(std::move(entry));
}

bool is_executable_file(const std::string& candidate) {
  // The system cannot be handed a path with a NUL inside it.
  if (candidate.find('\0') != std::string::npos) return false;
  struct stat info {};
  if (::stat(candidate.c_str(), &info) != 0) return false;
  return S_ISREG(info.st_mode) && (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

}  // namespace

std::vector<std::string_view> path_entries(std::string_view search_path) {
  std::vector<std::string_view> entries;
  for (std::size_t start = 0; start <= search_path.size();) {
    std::size_t end = search_path.find(':', start);
    if (end == std::string_view::npos) end = search_path.size();
    entries.push_back(search_path.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

std::string fallback_path(std::optional<std::string_view> path,
                          const std::optional<std::filesystem::path>& home) {
  std::vector<std::string> entries;
  for (std::string_view entry : path_entries(path.value_or(""))) {
    if (!entry.empty()) entries.emplace_back(entry);
  }
  if (home && usable_home(home->native())) {
    for (std::string_view dir : kHomeInstallDirs) {
      append_if_missing(entries, under_home(home->native(), dir));
    }
  }
  for (std::string_view dir : kSystemInstallDirs) append_if_missing(entries, std::string(dir));

  std::string joined;
  for (const std::string& entry : entries) {
    if (!joined.empty()) joined += ':';
    joined += entry;
  }
  return joined;
}

std::optional<std::filesystem::path> find_in_path(std::string_view search_path,
                                                  std::string_view name) {
  for (std::string_view dir : path_entries(search_path)) {
    if (!dir.starts_with('/')) continue;
    std::string candidate(dir);
    if (!candidate.ends_with('/')) candidate += '/';
    candidate += name;
    if (is_executable_file(candidate)) return std::filesystem::path(std::move(candidate));
  }
  return std::nullopt;
}

}  // namespace kestrum::launcher
