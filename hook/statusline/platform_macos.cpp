#include <fcntl.h>
#include <signal.h>
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

namespace {

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions_);
    posix_spawnattr_init(&attributes_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool prepare(int input_fd, int output_fd) {
    sigset_t default_signals;
    sigemptyset(&default_signals);
    sigaddset(&default_signals, SIGPIPE);
    sigaddset(&default_signals, SIGXFSZ);
    sigset_t no_signals;
    sigemptyset(&no_signals);
    // Every descriptor not named by a file action is closed in the child.
    const auto flags = static_cast<short>(POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_CLOEXEC_DEFAULT);
    return posix_spawn_file_actions_adddup2(&actions_, input_fd, STDIN_FILENO) == 0 &&
           posix_spawn_file_actions_adddup2(&actions_, output_fd, STDOUT_FILENO) == 0 &&
           posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0) ==
               0 &&
           posix_spawnattr_setflags(&attributes_, flags) == 0 &&
           posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
           posix_spawnattr_setsigdefault(&attributes_, &default_signals) == 0 &&
           posix_spawnattr_setsigmask(&attributes_, &no_signals) == 0;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
};

}  // namespace

std::optional<pid_t> start_child(char* const* argv, char* const* envp, int input_fd,
                                 int output_fd) {
  SpawnSetup setup;
  if (!setup.prepare(input_fd, output_fd)) return std::nullopt;
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], setup.actions(), setup.attributes(), argv, envp) != 0) {
    return std::nullopt;
  }
  return pid;
}

}  // namespace kestrum::statusline
