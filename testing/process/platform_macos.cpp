#include <fcntl.h>
#include <libproc.h>
#include <signal.h>
#include <sys/proc.h>
#include <sys/proc_info.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "testing/process/process.hpp"

namespace kestrum::testkit {

// Without pipe2 the flag comes in a second step. The test runners are the only ones here
// that fork, and they do it from the thread that made the pipe, so nothing leaks between.
TestPipe make_test_pipe() {
  int fds[2];
  if (::pipe(fds) != 0) throw std::runtime_error("pipe");
  TestPipe pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
  if (::fcntl(fds[0], F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  return pipe;
}

}  // namespace kestrum::testkit

namespace kestrum::testkit {

bool process_gone(pid_t pid) {
  if (::kill(pid, 0) != 0) return errno == ESRCH;
  // A nonzero argument lets the query find zombies too; with 0 it refuses them (ESRCH).
  struct proc_bsdinfo info {};
  const int got = proc_pidinfo(pid, PROC_PIDTBSDINFO, 1, &info, sizeof info);
  return got == static_cast<int>(sizeof info) && info.pbi_status == SZOMB;
}

}  // namespace kestrum::testkit
