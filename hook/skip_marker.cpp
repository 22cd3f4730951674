#include "hook/skip_marker.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "hook/json.hpp"
#include "hook/ownership.hpp"
#include "hook/unique_fd.hpp"
#include "paths/marker.hpp"

namespace kestrum {

std::optional<std::filesystem::path> skip_marker_path(
    const ProfilePaths& paths, const std::optional<std::string>& session_id) {
  if (!session_id) return std::nullopt;
  return paths.profile_dir() / ("kestrum-skip-" + marker_file_name(*session_id) + ".json");
}

void remove_skip_marker(const std::filesystem::path& path) {
  ::unlink(path.c_str());
}

}  // namespace kestrum

namespace kestrum::ownership {
namespace {

// Far above any real marker; a bigger file is not one of ours.
constexpr std::size_t kMaxMarkerBytes = 64 * 1024;

// The marker's name is predictable, so whatever sits there is not trusted: a symbolic
// link is not followed, and a FIFO or device must not block or be read.
constexpr int kOpenFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;

bool is_regular(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> read_regular_file(const std::filesystem::path& path) {
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | kOpenFlags));
  if (!fd || !is_regular(fd.get())) return std::nullopt;
  std::string data;
  char buf[4096];
  while (data.size() <= kMaxMarkerBytes) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return data;
    data.append(buf, static_cast<std::size_t>(n));
  }
  return std::nullopt;
}

std::optional<std::uint64_t> non_negative_integer(const Json& value) {
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer() && value.get<std::int64_t>() >= 0) {
    return static_cast<std::uint64_t>(value.get<std::int64_t>());
  }
  return std::nullopt;
}

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

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
  const auto text = read_regular_file(marker);
  if (!text) return std::nullopt;
  return recorded_pid(*text, socket);
}

std::string skip_marker_text(std::uint32_t pid, std::string_view socket) {
  return dump_compact(Json{{"pid", pid}, {"socket", std::string(socket)}});
}

void write_skip_marker(const std::filesystem::path& marker, std::uint32_t pid,
                       std::string_view socket) {
  // O_NOFOLLOW before O_TRUNC takes effect: a link planted at the name truncates nothing.
  const UniqueFd fd(::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | kOpenFlags, 0600));
  if (!fd || !is_regular(fd.get())) return;
  write_all(fd.get(), skip_marker_text(pid, socket));
}

}  // namespace kestrum::ownership
