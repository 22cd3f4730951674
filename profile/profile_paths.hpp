// Where the app keeps a profile's files, and how per-session files are named.
#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

#include "profile/profile.hpp"

namespace kestrum {

// Longest socket path the platform's local socket address holds (104 bytes with the NUL).
inline constexpr std::size_t kMaxSocketPathBytes = 103;

// The SHA-256 hex of a session id: 64 hexadecimal digits, whatever the id holds. It names
// every per-session file below, so that no id can reach outside the profile directory.
std::string session_digest(std::string_view session_id);

// HOME/"Library/Application Support"/"kestrum" (or "kestrum Dev" in development mode).
std::filesystem::path data_dir(const std::filesystem::path& home, bool development);

class ProfilePaths {
 public:
  static std::expected<ProfilePaths, PathsError> with_root(const std::filesystem::path& root,
                                                           const Profile& profile);

  const std::filesystem::path& profile_dir() const { return profile_dir_; }
  const std::filesystem::path& run_dir() const { return run_dir_; }
  const std::filesystem::path& socket_path() const { return socket_path_; }
  const std::filesystem::path& token_path() const { return token_path_; }

  // The per-session files, all named by session_digest: the app's remote marker, and the
  // hook's launch-ownership skip marker and status line cache and lock.
  std::filesystem::path remote_marker(std::string_view session_id) const;
  std::filesystem::path skip_marker(std::string_view session_id) const;
  std::filesystem::path statusline_out(std::string_view session_id) const;
  std::filesystem::path statusline_lock(std::string_view session_id) const;

 private:
  ProfilePaths() = default;
  std::filesystem::path profile_dir_, run_dir_, socket_path_, token_path_;
};

}  // namespace kestrum
