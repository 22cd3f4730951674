#include "launcher/find_in_path.hpp"

#include <sys/stat.h>

#include <string>

namespace kestrum {
namespace {

bool is_executable_file(const std::string& candidate) {
  // The system cannot be handed a path with a NUL inside it.
  if (candidate.find('\0') != std::string::npos) return false;
  struct stat info {};
  if (::stat(candidate.c_str(), &info) != 0) return false;
  return S_ISREG(info.st_mode) && (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

}  // namespace

std::optional<std::filesystem::path> find_in_path(std::string_view search_path,
                                                  std::string_view name) {
  std::size_t start = 0;
  while (start <= search_path.size()) {
    std::size_t end = search_path.find(':', start);
    if (end == std::string_view::npos) end = search_path.size();
    const std::string_view dir = search_path.substr(start, end - start);
    start = end + 1;
    if (!dir.starts_with('/')) continue;
    std::string candidate(dir);
    if (!candidate.ends_with('/')) candidate += '/';
    candidate += name;
    if (is_executable_file(candidate)) return std::filesystem::path(std::move(candidate));
  }
  return std::nullopt;
}

}  // namespace kestrum
