// The per-session record that another app instance owns this launch, so that later events
// of the session decide without a connection.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "profile/profile_paths.hpp"

namespace kestrum::ownership {

// paths.skip_marker(session id); nothing without a session id.
std::optional<std::filesystem::path> skip_marker_path(const ProfilePaths& paths,
                                                      const std::optional<std::string>& session_id);

void remove_skip_marker(const std::filesystem::path& path);

// The desktop app's process id that a marker's text records for `socket`; nothing when the
// text is not JSON, names another socket or has no non-negative integer "pid".
std::optional<std::uint64_t> recorded_pid(std::string_view marker_text, std::string_view socket);

// As recorded_pid, for the marker file; nothing when it is missing, not a regular file,
// another user's or unreadable.
std::optional<std::uint64_t> read_skip_marker(const std::filesystem::path& marker,
                                              std::string_view socket);

// {"pid":…,"socket":…}
std::string skip_marker_text(std::uint32_t pid, std::string_view socket);

// Creates (0600) or truncates the marker; anything but a regular file with one link at the
// name is left alone. Failures are ignored: without a marker the next event probes again.
void write_skip_marker(const std::filesystem::path& marker, std::uint32_t pid,
                       std::string_view socket);

}  // namespace kestrum::ownership
