// Profiles: named instances of the app's state, each with its own socket and token.
#pragma once

#include <cstddef>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrum {

inline constexpr std::string_view kDefaultProfile = "kestrum";

enum class PathsErrorKind { InvalidProfileName, MissingProfileArg, SocketPathTooLong };

struct PathsError {
  PathsErrorKind kind;
  std::string name;            // InvalidProfileName: the rejected name
  std::filesystem::path path;  // SocketPathTooLong: the socket path formed
  std::size_t bytes = 0;       // SocketPathTooLong: its length

  static PathsError invalid_name(std::string_view name) {
    return {PathsErrorKind::InvalidProfileName, std::string(name), {}, 0};
  }
  static PathsError missing_arg() { return {PathsErrorKind::MissingProfileArg, {}, {}, 0}; }
  static PathsError too_long(std::filesystem::path path, std::size_t bytes) {
    return {PathsErrorKind::SocketPathTooLong, {}, std::move(path), bytes};
  }
};

// The diagnostic rendering shown to users in the launcher's notices, e.g.
// InvalidProfileName("Work") or SocketPathTooLong { path: "/x", bytes: 110 }.
std::string describe(const PathsError& error);

// A validated profile name: 1 to 12 bytes of a-z, 0-9 and "-".
class Profile {
 public:
  static std::expected<Profile, PathsError> create(std::string_view name);
  const std::string& name() const { return name_; }

 private:
  explicit Profile(std::string name) : name_(std::move(name)) {}
  std::string name_;
};

}  // namespace kestrum
