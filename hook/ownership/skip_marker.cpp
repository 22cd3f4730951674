#include "hook/ownership/skip_marker.hpp"

#include <unistd.h>

#include "common/fd_io.hpp"
#include "common/json.hpp"
#include "common/own_user.hpp"

namespace kestrum::ownership {
namespace {

// Far above any real marker; a bigger file is not one of ours.
constexpr std::size_t kMaxMarkerBytes = 64 * 1024;

std::optional<std::uint64_t> non_negative_integer(const Json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer() && value.get<std::int64_t>() >= 0) {
    return static_cast<std::uint64_t>(value.get<std::int64_t>());
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::filesystem::path> skip_marker_path(
    const ProfilePaths& paths, const std::optional<std::string>& session_id) {
  if (!session_id) return std::nullopt;
  return paths.skip_marker(*session_id);
}

void remove_skip_marker(const std::filesystem::path& path) {
  ::unlink(path.c_str());
}

std::optional<std::uint64_t> recorded_pid(std::string_view marker_text, std::string_view socket) {
  const auto marker = parse_json(marker_text);
  if (!marker) return std::nullopt;
  const std::string* recorded_socket = string_member(*marker, "socket");
  const Json* pid = member(*marker, "pid");
  if (!recorded_socket || *recorded_socket != socket || !pid) return std::nullopt;
  return non_negative_integer(*pid);
}

std::optional<std::uint64_t> read_skip_marker(const std::filesystem::path& marker,
                                              std::string_view socket) {
  // The marker's name is predictable, so whatever sits there is not trusted, and one of
  // another user's would silence the hook for a whole session.
  const auto text = read_own_file(marker, kMaxMarkerBytes, Oversize::Refuse);
  if (!text) return std::nullopt;
  return recorded_pid(*text, socket);
}

std::string skip_marker_text(std::uint32_t pid, std::string_view socket) {
  return dump_compact(Json{{"pid", pid}, {"socket", std::string(socket)}});
}

void write_skip_marker(const std::filesystem::path& marker, std::uint32_t pid,
                       std::string_view socket) {
  const UniqueFd fd = open_regular_for_writing(marker, 0600);
  if (fd) write_all(fd.get(), skip_marker_text(pid, socket));
}

}  // namespace kestrum::ownership
