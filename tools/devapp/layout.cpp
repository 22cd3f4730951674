#include "tools/devapp/layout.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "common/unique_fd.hpp"
#include "profile/marker.hpp"

namespace kestrum::devapp {

namespace fs = std::filesystem;

std::string random_token() {
  unsigned char bytes[32];  // getentropy gives at most 256 bytes a call
  if (::getentropy(bytes, sizeof bytes) != 0) {
    // Any other source would make a token someone could guess.
    std::fputs("kestrum-devapp: the system gives no random bytes\n", stderr);
    std::abort();
  }
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char b : bytes) {
    token += kHex[b >> 4];
    token += kHex[b & 0x0F];
  }
  return token;
}

namespace {

std::string unusable_home(const PathsError& error) {
  if (error.kind != PathsErrorKind::SocketPathTooLong) {
    return "cannot serve this home: " + describe(error);
  }
  return "cannot serve this home: its socket path " + error.path.string() + " is " +
         std::to_string(error.bytes) + " bytes, over the " + std::to_string(kMaxSocketPathBytes) +
         " bytes a local socket address holds; use a shorter --home";
}

}  // namespace

std::expected<Layout, std::string> Layout::create(const fs::path& home,
                                                  const std::string& profile_name) {
  const auto profile = Profile::create(profile_name);
  if (!profile) return std::unexpected("invalid profile name " + profile_name);
  const fs::path data = kestrum::data_dir(home, false);
  auto paths = ProfilePaths::with_root(data, *profile);
  if (!paths) return std::unexpected(unusable_home(paths.error()));
  std::error_code ec;
  fs::create_directories(paths->run_dir(), ec);
  if (!ec) fs::create_directories(paths->profile_dir() / "remote", ec);
  if (ec) return std::unexpected("cannot create " + data.string() + ": " + ec.message());

  std::string token = random_token();
  const fs::path& token_path = paths->token_path();
  ::unlink(token_path.c_str());
  UniqueFd fd(::open(token_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!fd || ::write(fd.get(), token.data(), token.size()) != static_cast<ssize_t>(token.size())) {
    return std::unexpected("cannot write the token " + token_path.string());
  }
  return Layout(std::move(*paths), data, std::move(token));
}

Layout::~Layout() {
  if (token_.empty()) return;
  ::unlink(paths_.token_path().c_str());
  ::unlink(paths_.socket_path().c_str());
}

void Layout::mark_remote(const std::string& session_id) const {
  UniqueFd fd(::open(paths_.remote_marker(session_id).c_str(),
                     O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
}

void Layout::mark_local(const std::string& session_id) const {
  ::unlink(paths_.remote_marker(session_id).c_str());
}

bool Layout::is_remote(const std::string& session_id) const {
  return read_marker(paths_.remote_marker(session_id)) == MarkerState::Present;
}

}  // namespace kestrum::devapp
