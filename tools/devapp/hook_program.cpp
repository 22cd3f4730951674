#include "tools/devapp/hook_program.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

namespace kestrum::devapp {
namespace {

namespace fs = std::filesystem;
constexpr std::string_view kHookName = "kestrum-hook";

std::optional<fs::path> on_search_path(std::string_view search_path) {
  while (true) {
    const auto colon = search_path.find(':');
    const std::string_view dir = search_path.substr(0, colon);
    // An empty entry means the current directory, which is no place to trust for this.
    if (!dir.empty() && dir.front() == '/') {
      const fs::path candidate = fs::path(dir) / kHookName;
      if (is_executable_file(candidate)) return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    search_path.remove_prefix(colon + 1);
  }
}

}  // namespace

bool is_executable_file(const fs::path& file) {
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0;
}

std::expected<fs::path, std::string> find_hook(const HookSearch& search) {
  if (search.given) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(*search.given, ec);
    if (ec || !is_executable_file(absolute)) {
      return std::unexpected("--hook " + search.given->string() + " is not an executable file");
    }
    return absolute;
  }
  if (!search.own_dir.empty() && is_executable_file(search.own_dir / kHookName)) {
    return search.own_dir / kHookName;
  }
  if (!search.build_tree_hook.empty() && is_executable_file(search.build_tree_hook)) {
    return search.build_tree_hook;
  }
  if (auto found = on_search_path(search.search_path)) return *found;
  return std::unexpected(
      "no kestrum-hook beside this program, in its build tree or on PATH; give --hook PATH");
}

}  // namespace kestrum::devapp
