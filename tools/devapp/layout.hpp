// The data directory as the app lays it out for one profile, and the files it owns there.
#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <utility>

#include "profile/profile_paths.hpp"

namespace kestrum::devapp {

class Layout {
 public:
  // Creates the data directory, run/, the profile directory and its remote/ folder, and
  // writes a fresh random token (mode 0600). Fails with a one-line message.
  static std::expected<Layout, std::string> create(const std::filesystem::path& home,
                                                   const std::string& profile);
  Layout(Layout&& other) noexcept
      : paths_(other.paths_),
        data_dir_(std::move(other.data_dir_)),
        token_(std::exchange(other.token_, {})) {}
  Layout& operator=(Layout&&) = delete;
  // The socket and the token go with the app; the directories stay, as the app's do.
  ~Layout();

  const ProfilePaths& paths() const { return paths_; }
  const std::filesystem::path& data_dir() const { return data_dir_; }
  const std::string& token() const { return token_; }

  void mark_remote(const std::string& session_id) const;
  void mark_local(const std::string& session_id) const;
  bool is_remote(const std::string& session_id) const;

 private:
  Layout(ProfilePaths paths, std::filesystem::path data, std::string token)
      : paths_(std::move(paths)), data_dir_(std::move(data)), token_(std::move(token)) {}
  ProfilePaths paths_;
  std::filesystem::path data_dir_;
  std::string token_;  // empty once moved from: the files are someone else's then
};

// 32 random bytes as hexadecimal digits.
std::string random_token();

}  // namespace kestrum::devapp
