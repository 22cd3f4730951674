#include "hook/statusline/signal_cleanup.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>

namespace kestrum::statusline {
namespace {

// Read by the handler only; lock-free atomics are what a handler may read.
std::atomic<pid_t> g_owner{0};
std::atomic<pid_t> g_group{0};
std::atomic<const char*> g_lock_path{nullptr};
std::atomic<const char*> g_own_pid{nullptr};
static_assert(std::atomic<pid_t>::is_always_lock_free &&
              std::atomic<const char*>::is_always_lock_free);

// Lock::release with what a handler may call: the file goes only while it holds our id.
void release_lock(const char* path, const char* own_pid) {
  const int fd = ::open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  char content[64];
  ssize_t got = -1;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) got = ::read(fd, content, sizeof content);
  ::close(fd);
  const std::size_t size = std::strlen(own_pid);
  if (got == static_cast<ssize_t>(size) && std::memcmp(content, own_pid, size) == 0) {
    ::unlink(path);
  }
}

extern "C" void clean_up_and_go(int sig) {
  // A started command between its start and its program shares this handler: it only goes.
  if (::getpid() == g_owner.load()) {
    if (const pid_t group = g_group.load(); group > 0) ::kill(-group, SIGKILL);
    const char* path = g_lock_path.load();
    const char* own_pid = g_own_pid.load();
    if (path && own_pid) release_lock(path, own_pid);
  }
  // Ended by the signal, as without this handler; it arrives once the handler returns.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

SignalCleanup::SignalCleanup() : own_pid_(std::to_string(::getpid())), signals_(ending_signals()) {
  g_owner = ::getpid();
  g_own_pid = own_pid_.c_str();
  install_handler(signals_, clean_up_and_go, 0, previous_);
}

SignalCleanup::~SignalCleanup() {
  for (std::size_t i = 0; i < signals_.size; ++i) {
    ::sigaction(signals_.numbers[i], &previous_[i], nullptr);
  }
  g_group = 0;
  g_lock_path = nullptr;
  g_own_pid = nullptr;
  g_owner = 0;
}

void SignalCleanup::guard_lock(const std::filesystem::path& path) {
  g_lock_path = nullptr;
  lock_path_ = path.native();
  g_lock_path = lock_path_.c_str();
}

void SignalCleanup::guard_group(pid_t group) {
  g_group = group;
}

HeldSignals::HeldSignals() {
  const sigset_t set = set_of(ending_signals());
  ::pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

HeldSignals::~HeldSignals() {
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

std::optional<ChildHandle> spawn_guarded(const Command& command, std::string_view input,
                                         SignalCleanup& cleanup) {
  const HeldSignals held;
  auto child = spawn_with_input(command, input);
  if (child) cleanup.guard_group(static_cast<pid_t>(child->pid()));
  return child;
}

}  // namespace kestrum::statusline
