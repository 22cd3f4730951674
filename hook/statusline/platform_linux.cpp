#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "hook/statusline/platform.hpp"

namespace kestrum::statusline {

std::optional<Pipe> make_pipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

std::timespec modification_time(const struct stat& status) {
  return status.st_mtim;
}

std::optional<UniqueFd> exit_notifier(pid_t pid) {
  // Always close-on-exec. Kernels before 5.3 refuse it with ENOSYS.
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd < 0) return std::nullopt;
  return UniqueFd(static_cast<int>(fd));
}

bool keep_only_standard_descriptors(posix_spawn_file_actions_t& actions, short& /*flags*/) {
  return ::posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
}

}  // namespace kestrum::statusline
