#include "hook/statusline/child.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/exec_array.hpp"
#include "common/fd_io.hpp"
#include "hook/statusline/cache.hpp"
#include "hook/statusline/limits.hpp"
#include "hook/statusline/platform.hpp"

extern char** environ;

namespace kestrum::statusline {
namespace {

constexpr std::chrono::milliseconds kPollInterval{5};
// Once the output has ended the exit follows closely: look again sooner.
constexpr std::chrono::microseconds kQuickPoll{250};
constexpr std::size_t kReadChunk = 4096;

// Shared by the reader thread and the waiting thread; owned jointly, so a reader that
// outlives the wait never touches freed memory.
struct OutputBuffer {
  std::mutex mutex;
  std::condition_variable finished;
  std::string bytes;
  bool done = false;
};

template <class Work>
bool start_detached(Work&& work) {
  try {
    std::thread(std::forward<Work>(work)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;  // the work, and the descriptors it owns, went with the failed thread
  }
}

void feed_input(UniqueFd fd, const std::string& bytes) {
  // A child that stops reading must give this thread EPIPE, not the process SIGPIPE,
  // whatever the program's own disposition is.
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
  write_all(fd.get(), bytes);
}

void read_output(UniqueFd fd, const std::shared_ptr<OutputBuffer>& out) {
  char chunk[kReadChunk];
  for (bool full = false; !full;) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    const std::lock_guard lock(out->mutex);
    const std::size_t room = kMaxOutputBytes - out->bytes.size();
    out->bytes.append(chunk, std::min(room, static_cast<std::size_t>(n)));
    full = out->bytes.size() >= kMaxOutputBytes;
  }
  fd.reset();  // closed before the signal, so a finished wait holds no descriptor of ours
  {
    const std::lock_guard lock(out->mutex);
    out->done = true;
  }
  out->finished.notify_all();
}

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
    const short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF;
    return posix_spawn_file_actions_adddup2(&actions_, input_fd, STDIN_FILENO) == 0 &&
           posix_spawn_file_actions_adddup2(&actions_, output_fd, STDOUT_FILENO) == 0 &&
           posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0) ==
               0 &&
           posix_spawnattr_setflags(&attributes_, flags) == 0 &&
           posix_spawnattr_setpgroup(&attributes_, 0) == 0 &&
           posix_spawnattr_setsigdefault(&attributes_, &default_signals) == 0;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attributes_;
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
  SpawnSetup setup;
  if (!setup.prepare(input_fd, output_fd)) return std::nullopt;
  ExecArray argv;
  argv.add(command.program).add_all(command.args);
  pid_t pid = 0;
  int failed = 0;
  if (command.env_changes.empty()) {
    failed = posix_spawn(&pid, command.program.c_str(), setup.actions(), setup.attributes(),
                         argv.get(), environ);
  } else {
    Environment env(command);
    failed = posix_spawn(&pid, command.program.c_str(), setup.actions(), setup.attributes(),
                         argv.get(), env.get());
  }
  if (failed != 0) return std::nullopt;
  return pid;
}

// Waits between polls of the child: wakes early when the reader finishes, then polls
// quickly for the exit that normally follows.
class Pause {
 public:
  explicit Pause(std::shared_ptr<OutputBuffer> out) : out_(std::move(out)) {}

  void until_next_poll(Clock::time_point deadline) {
    const Clock::time_point wake = std::min(Clock::now() + interval_, deadline);
    if (!reader_finished_) {
      std::unique_lock lock(out_->mutex);
      reader_finished_ = out_->finished.wait_until(lock, wake, [this] { return out_->done; });
      if (reader_finished_) interval_ = kQuickPoll;
      return;
    }
    std::this_thread::sleep_until(wake);
    interval_ = std::min<Clock::duration>(interval_ * 2, kPollInterval);
  }

 private:
  std::shared_ptr<OutputBuffer> out_;
  bool reader_finished_ = false;
  Clock::duration interval_ = kPollInterval;
};

enum class Poll { Exited, TimedOut, Failed };

Poll poll_until_exit(ChildHandle& child, Clock::time_point deadline, Pause& pause) {
  const auto pid = static_cast<pid_t>(child.pid());
  for (;;) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid) {
      child.record_exit(status);
      return Poll::Exited;
    }
    if (reaped < 0 && errno == EINTR) continue;
    if (reaped < 0) return Poll::Failed;
    if (Clock::now() >= deadline) return Poll::TimedOut;
    pause.until_next_poll(deadline);
  }
}

// The child has exited; what it wrote is taken, even if another process of its group
// still holds the pipe open.
std::optional<std::string> collect_output(ChildHandle& child, OutputBuffer& out,
                                          Clock::time_point deadline, bool kill_on_timeout) {
  std::unique_lock lock(out.mutex);
  const bool finished = out.finished.wait_until(lock, deadline, [&out] { return out.done; });
  if (!finished && kill_on_timeout) {
    lock.unlock();
    kill_process_group(child);
    lock.lock();
  }
  const std::string bytes = finished ? std::move(out.bytes) : out.bytes;
  lock.unlock();
  return clean_output(bytes);
}

}  // namespace

ChildHandle::ChildHandle(ChildHandle&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      status_(other.status_),
      output_(std::move(other.output_)),
      background_(other.background_) {}

ChildHandle::~ChildHandle() {
  if (pid_ != 0 && !reaped() && !background_) kill_process_group(*this);
}

void kill_process_group(ChildHandle& child) {
  if (child.pid_ == 0) return;
  ::kill(-child.pid_, SIGKILL);
  if (child.reaped()) return;
  ::kill(child.pid_, SIGKILL);
  // The input pipe's write end belongs to the writer thread, which sees EPIPE now.
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

std::expected<std::optional<ChildHandle>, ThreadRefused> spawn_with_input(const Command& command,
                                                                          std::string_view input) {
  std::optional<Pipe> in = make_pipe();
  std::optional<Pipe> out = make_pipe();
  if (!in || !out) return std::nullopt;
  const std::optional<pid_t> pid = start_process(command, in->read.get(), out->write.get());
  if (!pid) return std::nullopt;
  in->read.reset();
  out->write.reset();
  ChildHandle child(*pid, std::move(out->read), command.background);
  if (!input.empty()) {
    auto writer = [fd = std::move(in->write), bytes = std::string(input)]() mutable {
      feed_input(std::move(fd), bytes);
    };
    if (!start_detached(std::move(writer))) {
      kill_process_group(child);
      return std::unexpected(ThreadRefused{});
    }
  }
  return child;
}

std::expected<std::optional<std::string>, ThreadRefused> wait_for_output(ChildHandle child,
                                                                         Clock::time_point deadline,
                                                                         bool kill_on_timeout) {
  auto out = std::make_shared<OutputBuffer>();
  out->bytes.reserve(kMaxOutputBytes);
  auto reader = [fd = child.take_output(), out]() mutable { read_output(std::move(fd), out); };
  if (!start_detached(std::move(reader))) {
    if (kill_on_timeout) kill_process_group(child);
    child.let_go();
    return std::unexpected(ThreadRefused{});
  }
  Pause pause(out);
  const Poll poll = poll_until_exit(child, deadline, pause);
  if (poll == Poll::Exited) return collect_output(child, *out, deadline, kill_on_timeout);
  if (kill_on_timeout) kill_process_group(child);
  child.let_go();
  return std::nullopt;
}

}  // namespace kestrum::statusline
