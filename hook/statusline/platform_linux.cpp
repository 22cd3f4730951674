#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "hook/statusline/platform.hpp"

namespace kestrum::statusline {
namespace {

bool close_from(int first) {
  if (::close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return true;
  if (errno != ENOSYS) return false;
  // Kernels before 5.9: every number up to the limit.
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  for (rlim_t fd = static_cast<rlim_t>(first); fd < limit.rlim_cur; ++fd) {
    ::close(static_cast<int>(fd));
  }
  return true;
}

// Runs in the vfork child, on the parent's memory and stack until execve: system calls
// only, and the parent learns of a failure through `start_error`.
[[noreturn]] void become_child(char* const* argv, char* const* envp, int input_fd, int output_fd,
                               volatile int* start_error) {
  // close() then open() gives the lowest free number, 2, once 0 and 1 are taken.
  if (::setpgid(0, 0) == 0 && ::dup2(input_fd, STDIN_FILENO) == STDIN_FILENO &&
      ::dup2(output_fd, STDOUT_FILENO) == STDOUT_FILENO && ::close(STDERR_FILENO) == 0 &&
      ::open("/dev/null", O_WRONLY) == STDERR_FILENO && close_from(STDERR_FILENO + 1)) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigset_t no_signals;
    sigemptyset(&no_signals);
    ::sigaction(SIGPIPE, &default_action, nullptr);
    ::sigprocmask(SIG_SETMASK, &no_signals, nullptr);
    ::execve(argv[0], argv, envp);
  }
  *start_error = errno != 0 ? errno : ECHILD;
  ::_exit(127);
}

}  // namespace

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

// vfork rather than posix_spawn: glibc's spawn maps the child a fresh stack and asks after
// every signal one call at a time, which costs more than the rest of the start where each
// fresh page and each system call is dear. The child runs on our memory until execve, so
// every signal stays blocked until then but for the last calls; the modes that start
// children catch no signal, so no handler of ours can run there, and SIGPIPE, the one
// disposition they change, is put back first.
std::optional<pid_t> start_child(char* const* argv, char* const* envp, int input_fd,
                                 int output_fd) {
  sigset_t all_signals, previous;
  sigfillset(&all_signals);
  ::pthread_sigmask(SIG_SETMASK, &all_signals, &previous);
  volatile int start_error = 0;
  const pid_t pid = ::vfork();
  if (pid == 0) become_child(argv, envp, input_fd, output_fd, &start_error);
  const int error = start_error;
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (pid < 0) return std::nullopt;
  if (error != 0) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return std::nullopt;
  }
  return pid;
}

}  // namespace kestrum::statusline
