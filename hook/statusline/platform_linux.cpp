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

// Closes every descriptor from `first` on but `keep`.
bool close_all_from(int first, int keep) {
  const auto close_span = [](unsigned from, unsigned to) {
    return from > to || ::close_range(from, to, 0) == 0;
  };
  const auto kept = static_cast<unsigned>(keep);
  if (close_span(static_cast<unsigned>(first), kept - 1) && close_span(kept + 1, ~0U)) return true;
  if (errno != ENOSYS) return false;
  // Kernels before 5.9: every number up to the limit.
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  for (rlim_t fd = static_cast<rlim_t>(first); fd < limit.rlim_cur; ++fd) {
    if (fd != static_cast<rlim_t>(keep)) ::close(static_cast<int>(fd));
  }
  return true;
}

// What the vfork child leaves in our memory: that it ran there, and why it failed.
struct ChildReport {
  volatile int reached = 0;
  volatile int error = 0;
};

// Runs in the vfork child, on the parent's memory and stack until execve: system calls
// only. A failure is left in `shared` and written to `report_fd`, which execve closes: the
// pipe reaches us also where a tool turns vfork into fork and nothing is shared.
[[noreturn]] void become_child(char* const* argv, char* const* envp, int input_fd, int output_fd,
                               ChildReport* shared, int report_fd) {
  shared->reached = 1;
  // close() then open() gives the lowest free number, 2, once 0 and 1 are taken.
  if (::setpgid(0, 0) == 0 && ::dup2(input_fd, STDIN_FILENO) == STDIN_FILENO &&
      ::dup2(output_fd, STDOUT_FILENO) == STDOUT_FILENO && ::close(STDERR_FILENO) == 0 &&
      ::open("/dev/null", O_WRONLY) == STDERR_FILENO &&
      close_all_from(STDERR_FILENO + 1, report_fd)) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigset_t no_signals;
    sigemptyset(&no_signals);
    ::sigaction(SIGPIPE, &default_action, nullptr);
    ::sigaction(SIGXFSZ, &default_action, nullptr);
    ::sigprocmask(SIG_SETMASK, &no_signals, nullptr);
    ::execve(argv[0], argv, envp);
  }
  const int error = errno != 0 ? errno : ECHILD;
  shared->error = error;
  [[maybe_unused]] const ssize_t written = ::write(report_fd, &error, sizeof error);
  ::_exit(127);
}

// Whether the child wrote a failure before it went: the pipe ends empty once it has
// started the program.
bool child_failed(const UniqueFd& report) {
  int error = 0;
  ssize_t n = 0;
  do {
    n = ::read(report.get(), &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  return n > 0;
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
  std::optional<Pipe> report = make_pipe();
  if (!report) return std::nullopt;
  sigset_t all_signals, previous;
  sigfillset(&all_signals);
  ::pthread_sigmask(SIG_SETMASK, &all_signals, &previous);
  ChildReport shared;
  const pid_t pid = ::vfork();
  if (pid == 0) become_child(argv, envp, input_fd, output_fd, &shared, report->write.get());
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (pid < 0) return std::nullopt;
  report->write.reset();
  // Shared memory answers at once; the pipe only closes once the child's exec has come
  // further, and waiting for that costs a wake-up.
  const bool failed = shared.reached ? shared.error != 0 : child_failed(report->read);
  if (failed) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return std::nullopt;
  }
  return pid;
}

}  // namespace kestrum::statusline
