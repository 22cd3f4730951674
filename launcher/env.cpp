#include "launcher/env.hpp"

#include <algorithm>
#include <vector>

#include "paths/utf8.hpp"

namespace kestrum::env {
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

std::vector<std::string> non_empty_entries(std::string_view path) {
  std::vector<std::string> entries;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) entries.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return entries;
}

// An empty home gives the relative directory itself, as a path join would.
std::string under_home(const std::string& home, std::string_view relative) {
  std::string joined = home;
  if (!joined.empty() && !joined.ends_with('/')) joined += '/';
  joined += relative;
  return to_utf8_lossy(joined);
}

void append_if_missing(std::vector<std::string>& entries, std::string entry) {
  if (std::ranges::find(entries, entry) == entries.end()) entries.push_back(std::move(entry));
}

}  // namespace

std::string fallback_path(std::optional<std::string_view> path,
                          const std::optional<std::filesystem::path>& home) {
  std::vector<std::string> entries = non_empty_entries(path.value_or(""));
  if (home) {
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

}  // namespace kestrum::env
