#include "profile/profile_paths.hpp"

#include "common/sha256.hpp"

namespace kestrum {

namespace fs = std::filesystem;

std::string session_digest(std::string_view session_id) {
  return sha256_hex(session_id);
}

fs::path data_dir(const fs::path& home, bool development) {
  return home / "Library/Application Support" / (development ? "kestrum Dev" : "kestrum");
}

std::expected<ProfilePaths, PathsError> ProfilePaths::with_root(const fs::path& root,
                                                                const Profile& profile) {
  ProfilePaths p;
  p.run_dir_ = root / "run";
  p.socket_path_ = p.run_dir_ / (profile.name() + ".sock");
  const std::size_t bytes = p.socket_path_.native().size();
  if (bytes > kMaxSocketPathBytes) {
    return std::unexpected(PathsError::too_long(p.socket_path_, bytes));
  }
  p.profile_dir_ = root / "profiles" / profile.name();
  p.token_path_ = p.run_dir_ / (profile.name() + ".token");
  return p;
}

fs::path ProfilePaths::remote_marker(std::string_view session_id) const {
  return profile_dir_ / "remote" / session_digest(session_id);
}

fs::path ProfilePaths::skip_marker(std::string_view session_id) const {
  return profile_dir_ / ("kestrum-skip-" + session_digest(session_id) + ".json");
}

fs::path ProfilePaths::statusline_out(std::string_view session_id) const {
  return profile_dir_ / ("kestrum-status-" + session_digest(session_id) + ".out");
}

fs::path ProfilePaths::statusline_lock(std::string_view session_id) const {
  return profile_dir_ / ("kestrum-status-" + session_digest(session_id) + ".lock");
}

}  // namespace kestrum
