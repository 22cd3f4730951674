#include "launcher/child_env.hpp"

#include <algorithm>

namespace kestrum::launcher {
namespace {

std::string_view name_of(std::string_view entry) {
  return entry.substr(0, entry.find('='));
}

// Replaces the variable in place (dropping any duplicate of it), or appends it.
void set_variable(std::vector<std::string>& entries, std::string_view name,
                  std::string_view value) {
  std::string entry = std::string(name) + "=" + std::string(value);
  auto first = std::ranges::find_if(entries, [&](const auto& e) { return name_of(e) == name; });
  if (first == entries.end()) {
    entries.push_back(std::move(entry));
    return;
  }
  *first = std::move(entry);
  const auto rest = std::ranges::remove_if(first + 1, entries.end(),
                                           [&](const auto& e) { return name_of(e) == name; });
  entries.erase(rest.begin(), rest.end());
}

}  // namespace

std::vector<std::string> child_environment(const char* const* inherited,
                                           std::string_view search_path, const AppEnv& app_env) {
  std::vector<std::string> entries;
  for (const char* const* entry = inherited; entry && *entry; ++entry) entries.emplace_back(*entry);

  set_variable(entries, "PATH", search_path);
  // The prefix is ASCII, so the raw name begins with it exactly when its lossy UTF-8
  // reading does; "KESTRUM" alone is someone else's variable and stays.
  std::erase_if(entries, [](const std::string& e) { return name_of(e).starts_with("KESTRUM_"); });
  for (const auto& [name, value] : app_env) set_variable(entries, name, value);
  return entries;
}

}  // namespace kestrum::launcher
