// Process identity from the process information interface and the local-socket peer query.
#include <libproc.h>
#include <sys/proc_info.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <array>
#include <limits>

#include "common/proc.hpp"

namespace kestrum::proc {

std::optional<ProcInfo> info(std::uint32_t pid) {
  if (pid > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;
  }
  struct proc_bsdinfo bsd {};
  const int got = proc_pidinfo(static_cast<int>(pid), PROC_PIDTBSDINFO, 0, &bsd, sizeof bsd);
  if (got != static_cast<int>(sizeof bsd)) return std::nullopt;
  std::array<char, 4096> buf{};
  const int n =
      proc_pidpath(static_cast<int>(pid), buf.data(), static_cast<std::uint32_t>(buf.size()));
  if (n < 1) return std::nullopt;
  const std::size_t used = std::min(static_cast<std::size_t>(n), buf.size());
  auto name = exe_name_of(std::string_view(buf.data(), used));
  if (!name) return std::nullopt;
  return ProcInfo{bsd.pbi_ppid, std::move(*name)};
}

std::optional<std::uint32_t> peer_pid(int socket_fd) {
  pid_t pid = -1;
  socklen_t len = sizeof pid;
  if (::getsockopt(socket_fd, SOL_LOCAL, LOCAL_PEERPID, &pid, &len) != 0) return std::nullopt;
  if (pid < 0) return std::nullopt;
  return static_cast<std::uint32_t>(pid);
}

}  // namespace kestrum::proc

#include <mach-o/dyld.h>
#include <stdlib.h>

#include <memory>
#include <vector>

namespace kestrum::proc {

std::optional<std::string> current_exe() {
  std::uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buf(size + 1, '\0');
  if (_NSGetExecutablePath(buf.data(), &size) != 0) return std::nullopt;
  // The loader may report the path as it was typed: relative, or through a link. Callers
  // start this file again later, from wherever they are, so it must be absolute and real.
  const std::unique_ptr<char, decltype(&::free)> real(::realpath(buf.data(), nullptr), &::free);
  if (!real) return std::nullopt;
  return std::string(real.get());
}

}  // namespace kestrum::proc
