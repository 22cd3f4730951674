#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hook/statusline/platform.hpp"

namespace kestrum::statusline {

// No pipe2 here: the flag is set right after creation. Only this process's own worker
// threads could spawn in between, and they never do.
std::optional<Pipe> make_pipe() {
  int fds[2];
  if (::pipe(fds) != 0) return std::nullopt;
  Pipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
  if (::fcntl(fds[0], F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) != 0) {
    return std::nullopt;
  }
  return pipe;
}

std::timespec modification_time(const struct stat& status) {
  return status.st_mtimespec;
}

}  // namespace kestrum::statusline
