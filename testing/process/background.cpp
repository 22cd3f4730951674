#include "testing/process/background.hpp"

#include "common/fd_io.hpp"
#include "testing/process/files.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

namespace kestrum::testkit {

using Clock = std::chrono::steady_clock;

BackgroundProcess::BackgroundProcess(const std::filesystem::path& program,
                                     const RunOptions& options,
                                     const std::filesystem::path& output_dir) {
  static int counter = 0;
  const std::string stem =
      "process-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  out_file_ = output_dir / (stem + ".out");
  err_file_ = output_dir / (stem + ".err");
  TestPipe in = make_test_pipe();
  ExecImage image(program, options);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    ::dup2(in.read.get(), 0);
    // Close-on-exec: only the copies on 1 and 2 reach the program.
    const int out = ::open(out_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open(err_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.cwd && ::chdir(options.cwd->c_str()) != 0) ::_exit(120);
    ::signal(SIGPIPE, SIG_DFL);  // as a caller outside would start it
    ::execve(image.argv.get()[0], image.argv.get(), image.envp.get());
    ::_exit(121);
  }
  input_ = in.write.release();
}

BackgroundProcess::~BackgroundProcess() {
  close_input();
  if (!result_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

void BackgroundProcess::write_input(std::string_view text) {
  if (input_ >= 0) write_all(input_, text);
}

void BackgroundProcess::close_input() {
  if (input_ >= 0) ::close(input_);
  input_ = -1;
}

void BackgroundProcess::send_signal(int signal) {
  if (!result_ && pid_ > 0) ::kill(pid_, signal);
}

std::optional<RunResult> BackgroundProcess::wait(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (!result_) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      RunResult r;
      if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
      if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
      result_ = r;
      break;
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  RunResult r = *result_;
  r.out = out();
  r.err = err();
  return r;
}

bool BackgroundProcess::running() {
  return !wait(std::chrono::milliseconds(0)).has_value();
}

std::string BackgroundProcess::out() const {
  return read_file(out_file_);
}
std::string BackgroundProcess::err() const {
  return read_file(err_file_);
}

}  // namespace kestrum::testkit
