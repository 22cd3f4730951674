#include <fcntl.h>
#include <sys/stat.h>
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

}  // namespace kestrum::statusline
