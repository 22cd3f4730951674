#include "hook/statusline/child.hpp"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "common/exec_array.hpp"
#include "hook/statusline/cache.hpp"
#include "hook/statusline/limits.hpp"
#include "hook/statusline/platform.hpp"

extern char** environ;

namespace kestrum::statusline {
namespace {

// Where the system cannot report a child's exit on a descriptor, it is looked for this often.
constexpr std::chrono::milliseconds kExitPollInterval{2};
constexpr std::size_t kReadChunk = 4096;

// A child that stops reading must give us EPIPE, not this process SIGPIPE, whatever the
// program's own disposition is: the signal is blocked for the write, and one it raised is
// taken back before the mask is restored.
ssize_t write_without_sigpipe(int fd, const char* bytes, std::size_t size) {
  sigset_t pipe_signal, previous, pending;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &previous);
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  const ssize_t n = ::write(fd, bytes, size);
  const int error = errno;
  if (n < 0 && error == EPIPE && !was_pending && sigpending(&pending) == 0 &&
      sigismember(&pending, SIGPIPE) == 1) {
    int taken = 0;
    sigwait(&pipe_signal, &taken);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = error;
  return n;
}

// The child's standard output, kept up to kMaxOutputBytes; the pipe is closed at its end
// or once that much has come.
struct OutputSink {
  UniqueFd fd;
  std::string bytes;

  // Straight into the buffer's room, never past the limit; a chunk more once it is full.
  void read_some() {
    const std::size_t used = bytes.size();
    if (bytes.capacity() < used + kReadChunk / 2) {
      bytes.reserve(std::min(used + kReadChunk, kMaxOutputBytes));
    }
    const std::size_t want = std::min(bytes.capacity(), kMaxOutputBytes) - used;
    ssize_t n = 0;
    bytes.resize_and_overwrite(used + want, [&](char* data, std::size_t) {
      n = ::read(fd.get(), data + used, want);
      return used + (n > 0 ? static_cast<std::size_t>(n) : 0);
    });
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0 || bytes.size() >= kMaxOutputBytes) fd.reset();
  }
};

// The inherited environment with the command's changes put over it.
class Environment {
 public:
  explicit Environment(const Command& command) {
    for (const auto& [name, value] : command.env_changes) changes_.push_back(name + "=" + value);
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (!changed(*entry)) entries_.add(*entry);
    }
    entries_.add_all(changes_);
  }
  char* const* get() const { return entries_.get(); }

 private:
  bool changed(std::string_view entry) const {
    const std::string_view name = entry.substr(0, entry.find('='));
    return std::ranges::any_of(changes_, [name](const std::string& change) {
      return change.size() > name.size() && change.compare(0, name.size(), name) == 0 &&
             change[name.size()] == '=';
    });
  }
  std::vector<std::string> changes_;
  ExecArray entries_;
};

std::optional<pid_t> start_process(const Command& command, int input_fd, int output_fd) {
  ExecArray argv;
  argv.add(command.program).add_all(command.args);
  if (command.env_changes.empty()) return start_child(argv.get(), environ, input_fd, output_fd);
  const Environment env(command);
  return start_child(argv.get(), env.get(), input_fd, output_fd);
}

void reap_if_exited(ChildHandle& child) {
  int status = 0;
  pid_t reaped = 0;
  do {
    reaped = ::waitpid(static_cast<pid_t>(child.pid()), &status, WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == static_cast<pid_t>(child.pid())) child.record_exit(status);
}

// Milliseconds for poll(), rounded up so that a wait never ends just before the deadline.
int poll_timeout(Clock::time_point deadline, bool exit_unwatched) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  if (exit_unwatched) left = std::min(left, kExitPollInterval);
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

enum class Ended { Finished, TimedOut };

// Feeds the input, reads the output and watches for the exit, all in this thread, until
// the child has exited and its output has ended, or the deadline.
Ended pump(ChildHandle& child, OutputSink& out, Clock::time_point deadline) {
  std::optional<UniqueFd> exited = exit_notifier(static_cast<pid_t>(child.pid()));
  InputFeed& in = child.input();
  for (;;) {
    if (!child.reaped()) reap_if_exited(child);
    if (child.reaped() && !out.fd) return Ended::Finished;
    if (Clock::now() >= deadline) return Ended::TimedOut;
    pollfd fds[3];
    nfds_t count = 0;
    const auto watch = [&](const UniqueFd& fd, short events) {
      if (!fd) return -1;
      fds[count] = pollfd{fd.get(), events, 0};
      return static_cast<int>(count++);
    };
    const int out_at = watch(out.fd, POLLIN);
    const int in_at = watch(in.fd, POLLOUT);
    const int exit_at = child.reaped() || !exited ? -1 : watch(*exited, POLLIN);
    const bool exit_unwatched = !child.reaped() && exit_at < 0;
    const int ready = ::poll(fds, count, poll_timeout(deadline, exit_unwatched));
    if (ready < 0 && errno != EINTR) return Ended::TimedOut;  // cannot wait: give up as if late
    if (ready <= 0) continue;
    if (out_at >= 0 && fds[out_at].revents != 0) out.read_some();
    if (in_at >= 0 && fds[in_at].revents != 0) in.write_some();
  }
}

}  // namespace

void InputFeed::write_some() {
  while (fd && written < bytes.size()) {
    const ssize_t n =
        write_without_sigpipe(fd.get(), bytes.data() + written, bytes.size() - written);
    if (n > 0) {
      written += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;  // the pipe is full: poll() says when it takes more
    } else {
      break;  // the child stopped reading
    }
  }
  fd.reset();  // the end of the input
  bytes = std::string();
}

ChildHandle::ChildHandle(ChildHandle&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      status_(other.status_),
      output_(std::move(other.output_)),
      input_(std::move(other.input_)),
      background_(other.background_) {}

ChildHandle::~ChildHandle() {
  if (pid_ != 0 && !reaped() && !background_) kill_process_group(*this);
}

void kill_process_group(ChildHandle& child) {
  if (child.pid_ == 0) return;
  ::kill(-child.pid_, SIGKILL);
  if (child.reaped()) return;
  ::kill(child.pid_, SIGKILL);
  for (;;) {
    int status = 0;
    const pid_t reaped = ::waitpid(child.pid_, &status, 0);
    if (reaped == child.pid_) {
      child.record_exit(status);
      return;
    }
    if (reaped < 0 && errno == EINTR) continue;
    return;
  }
}

std::optional<ChildHandle> spawn_with_input(const Command& command, std::string_view input) {
  std::optional<Pipe> in = make_pipe();
  std::optional<Pipe> out = make_pipe();
  if (!in || !out) return std::nullopt;
  const int flags = ::fcntl(in->write.get(), F_GETFL);
  if (flags < 0 || ::fcntl(in->write.get(), F_SETFL, flags | O_NONBLOCK) != 0) return std::nullopt;
  const std::optional<pid_t> pid = start_process(command, in->read.get(), out->write.get());
  if (!pid) return std::nullopt;
  in->read.reset();
  out->write.reset();
  ChildHandle child(*pid, std::move(out->read), command.background);
  child.input() = InputFeed{std::move(in->write), std::string(input), 0};
  child.input().write_some();
  return child;
}

Command shell_command(std::string text) {
  return Command{.program = "/bin/sh", .args = {"-c", std::move(text)}};
}

std::optional<std::string> wait_for_output(ChildHandle child, Clock::time_point deadline,
                                           AtDeadline at_deadline) {
  OutputSink out{child.take_output(), {}};
  const Ended ended = pump(child, out, deadline);
  if (ended == Ended::Finished) return clean_output(out.bytes);
  // Exited, but another process of its group still holds the output open: what came is
  // taken.
  const bool exited = child.reaped();
  if (at_deadline == AtDeadline::Kill) kill_process_group(child);
  child.let_go();
  if (exited) return clean_output(out.bytes);
  return std::nullopt;
}

}  // namespace kestrum::statusline
