#include "hook/ownership.hpp"

#include <unistd.h>

#include "paths/marker.hpp"

namespace kestrum {

Ownership launch_ownership(const Env&, const ProfilePaths&, const std::optional<std::string>&) {
  return Ownership::NotOwned;
}

std::optional<std::filesystem::path> skip_marker_path(
    const ProfilePaths& paths, const std::optional<std::string>& session_id) {
  if (!session_id) return std::nullopt;
  return paths.profile_dir() / ("kestrum-skip-" + marker_file_name(*session_id) + ".json");
}

void remove_skip_marker(const std::filesystem::path& path) {
  ::unlink(path.c_str());
}

}  // namespace kestrum
