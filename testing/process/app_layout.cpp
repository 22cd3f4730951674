#include "testing/process/app_layout.hpp"

#include "common/sha256.hpp"
#include "testing/process/files.hpp"

namespace kestrum::testkit {

namespace fs = std::filesystem;

AppLayout::AppLayout(const fs::path& home_dir, const std::string& profile) : home(home_dir) {
  data = home / "Library/Application Support/kestrum";
  run_dir = data / "run";
  profile_dir = data / "profiles" / profile;
  socket = run_dir / (profile + ".sock");
  token = run_dir / (profile + ".token");
  fs::create_directories(run_dir);
  fs::create_directories(profile_dir / "remote");
}

void AppLayout::write_token(const std::string& text) const {
  write_file(token, text);
}

fs::path AppLayout::remote_marker(const std::string& session_id) const {
  return profile_dir / "remote" / sha256_hex(session_id);
}

}  // namespace kestrum::testkit
