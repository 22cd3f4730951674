// Process identity from the proc file system and socket credentials.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <limits>
#include <string>

#include "common/proc.hpp"

namespace kestrum::proc {
namespace {

std::optional<std::uint32_t> parent_from_stat(std::uint32_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::array<char, 1024> buf;
  const ssize_t n = ::read(fd, buf.data(), buf.size());
  ::close(fd);
  if (n <= 0) return std::nullopt;
  // "pid (comm) state ppid ...": comm may hold anything, so look after its last ')'.
  const std::string_view stat(buf.data(), static_cast<std::size_t>(n));
  const std::size_t close_paren = stat.rfind(')');
  if (close_paren == std::string_view::npos || close_paren + 4 >= stat.size()) return std::nullopt;
  std::string_view rest = stat.substr(close_paren + 4);  // skip ") S "
  std::uint32_t ppid = 0;
  const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), ppid);
  if (ec != std::errc{} || end == rest.data()) return std::nullopt;
  return ppid;
}

}  // namespace

std::optional<ProcInfo> info(std::uint32_t pid) {
  if (pid > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  const auto ppid = parent_from_stat(pid);
  if (!ppid) return std::nullopt;
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  std::array<char, 4096> buf{};
  const ssize_t n = ::readlink(link.c_str(), buf.data(), buf.size());
  if (n < 1) return std::nullopt;
  auto name = exe_name_of(std::string_view(buf.data(), static_cast<std::size_t>(n)));
  if (!name) return std::nullopt;
  return ProcInfo{*ppid, std::move(*name)};
}

std::optional<std::uint32_t> peer_pid(int socket_fd) {
  struct ucred cred {};
  socklen_t len = sizeof cred;
  if (::getsockopt(socket_fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return std::nullopt;
  if (cred.pid < 0) return std::nullopt;
  return static_cast<std::uint32_t>(cred.pid);
}

}  // namespace kestrum::proc

namespace kestrum::proc {

std::optional<std::string> current_exe() {
  // Most paths fit the short buffer, which spares a fresh page of stack; a path that fills
  // it may have been cut and is read again whole.
  std::array<char, 256> short_buf;
  ssize_t n = ::readlink("/proc/self/exe", short_buf.data(), short_buf.size());
  if (n > 0 && static_cast<std::size_t>(n) < short_buf.size()) {
    return std::string(short_buf.data(), static_cast<std::size_t>(n));
  }
  std::string path(4096, '\0');
  n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n < 1 || static_cast<std::size_t>(n) >= path.size()) return std::nullopt;
  path.resize(static_cast<std::size_t>(n));
  return path;
}

}  // namespace kestrum::proc
