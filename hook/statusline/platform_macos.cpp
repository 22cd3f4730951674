#include <fcntl.h>
#include <spawn.h>
#include <sys/event.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hook/statusline/platform.hpp"

namespace kestrum::statusline {

// No pipe2 here: the flag is set right after creation. This process starts children from
// one thread only, so none can be spawned in between.
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

std::optional<UniqueFd> exit_notifier(pid_t pid) {
  UniqueFd queue(::kqueue());
  if (!queue) return std::nullopt;
  struct kevent change;
  EV_SET(&change, static_cast<uintptr_t>(pid), EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0,
         nullptr);
  // A child that has already exited is refused here (ESRCH); the waiter then finds it at once.
  if (::kevent(queue.get(), &change, 1, nullptr, 0, nullptr) != 0) return std::nullopt;
  return queue;
}

bool keep_only_standard_descriptors(posix_spawn_file_actions_t& /*actions*/, short& flags) {
  // Every descriptor not named by a file action is closed in the child.
  flags = static_cast<short>(flags | POSIX_SPAWN_CLOEXEC_DEFAULT);
  return true;
}

}  // namespace kestrum::statusline
