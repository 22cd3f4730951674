#include "testing/process/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace kestrum::testkit {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::string> environment_of(const RunOptions& options) {
  std::map<std::string, std::string> env = options.env;
  for (char** e = environ; *e; ++e) {
    const std::string_view entry(*e);
    const std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    // The sanitizers' settings of the test run hold for the programs it starts too.
    if (options.inherit_env || entry.substr(0, eq).ends_with("SAN_OPTIONS")) {
      env.emplace(entry.substr(0, eq), entry.substr(eq + 1));
    }
  }
  std::vector<std::string> entries;
  for (const auto& [k, v] : env) entries.push_back(k + "=" + v);
  return entries;
}

ExecImage::ExecImage(const fs::path& program, const RunOptions& options)
    : entries(environment_of(options)) {
  words.push_back(program.string());
  words.insert(words.end(), options.args.begin(), options.args.end());
  argv.add_all(words);
  envp.add_all(entries);
}

RunResult run_program(const fs::path& program, const RunOptions& options) {
  // A program that leaves its input unread must not end the caller.
  static const bool sigpipe_ignored = (::signal(SIGPIPE, SIG_IGN), true);
  (void)sigpipe_ignored;
  TestPipe in = make_test_pipe(), out = make_test_pipe(), err = make_test_pipe();
  ExecImage image(program, options);

  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    if (options.close_stdin) {
      ::close(0);
    } else {
      ::dup2(in.read.get(), 0);
    }
    ::dup2(out.write.get(), 1);
    ::dup2(err.write.get(), 2);
    ::setpgid(0, 0);
    if (options.cwd && ::chdir(options.cwd->c_str()) != 0) ::_exit(120);
    ::signal(SIGPIPE, SIG_DFL);  // as a caller outside would start it
    ::execve(image.argv.get()[0], image.argv.get(), image.envp.get());
    ::_exit(121);
  }
  in.read.reset();
  out.write.reset();
  err.write.reset();

  RunResult result;
  std::string_view pending = options.input;
  UniqueFd& in_fd = in.write;
  if (pending.empty() && !options.hold_stdin_open) {
    in_fd.reset();
  } else {
    ::fcntl(in_fd.get(), F_SETFL, O_NONBLOCK);
  }
  UniqueFd &out_fd = out.read, &err_fd = err.read;
  bool killed = false;
  while (out_fd || err_fd) {
    const auto left = options.timeout - (Clock::now() - start);
    if (left <= Clock::duration::zero() && !killed) {
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      killed = true;
    }
    const int poll_in = pending.empty() ? -1 : in_fd.get();
    pollfd fds[3] = {{out_fd.get(), POLLIN, 0}, {err_fd.get(), POLLIN, 0}, {poll_in, POLLOUT, 0}};
    ::poll(fds, 3, 50);
    for (int i = 0; i < 2; ++i) {
      UniqueFd& fd = i == 0 ? out_fd : err_fd;
      if (!fd || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[65536];
      const ssize_t n = ::read(fd.get(), buf, sizeof buf);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        fd.reset();
      }
    }
    if (in_fd && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t n = ::write(in_fd.get(), pending.data(), pending.size());
      if (n > 0) pending.remove_prefix(static_cast<std::size_t>(n));
      if ((n < 0 && errno != EAGAIN && errno != EINTR) ||
          (pending.empty() && !options.hold_stdin_open)) {
        in_fd.reset();
      }
    }
  }
  in_fd.reset();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

int count_open_fds() {
  // /dev/fd lists this process's descriptors on both systems.
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/dev/fd")) ++n;
  return n - 1;  // the iterator's own descriptor
}

}  // namespace kestrum::testkit
