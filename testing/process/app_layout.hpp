// The app's data directory as the app lays it out, for tests that play the app.
#pragma once

#include <filesystem>
#include <string>

namespace kestrum::testkit {

// A HOME with the app's data directory laid out for a profile, as the app sets it up.
struct AppLayout {
  explicit AppLayout(const std::filesystem::path& home, const std::string& profile = "kestrum");
  std::filesystem::path home, data, run_dir, profile_dir, socket, token;
  void write_token(const std::string& text) const;
  // The remote marker of a session (file name: SHA-256 of the id).
  std::filesystem::path remote_marker(const std::string& session_id) const;
};

}  // namespace kestrum::testkit
