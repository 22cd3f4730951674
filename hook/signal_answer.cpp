#include "hook/signal_answer.hpp"

#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <string_view>

#include "common/signals.hpp"
#include "hook/messages.hpp"

namespace kestrum {

namespace {

using Reply = SignalReply;

constexpr Reply kConfigErrorReply{kConfigErrorText, 2, nullptr};

// The handler reads the current answer through this pointer only: lock-free atomics are
// what a handler may read.
std::atomic<const Reply*> g_reply{&kConfigErrorReply};
static_assert(std::atomic<const Reply*>::is_always_lock_free);

void write_fully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return;  // nothing else to do from a handler
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// As app_unreachable decides, with what a handler may call: only an absent marker lets
// the call through.
bool marker_absent(const char* path) {
  struct stat st;
  return ::lstat(path, &st) != 0 && errno == ENOENT;
}

extern "C" void answer_and_exit(int) {
  const Reply* reply = g_reply.load();
  if (reply->marker && marker_absent(reply->marker)) ::_exit(0);
  write_fully(STDERR_FILENO, reply->err.data(), reply->err.size());
  write_fully(STDERR_FILENO, "\n", 1);
  ::_exit(reply->status);
}

// One call in the common case; a signal the hook was started ignoring (nohup) is ignored
// again at once: it ends no wait.
void catch_unless_ignored(int sig, const struct sigaction& action) {
  struct sigaction inherited {};
  if (::sigaction(sig, &action, &inherited) == 0 && inherited.sa_handler == SIG_IGN) {
    ::sigaction(sig, &inherited, nullptr);
  }
}

#if !defined(KESTRUM_SANITIZED)
// A crash may come from an exhausted stack: the handler runs on a stack of its own. It is
// mapped, not static: a static array this size would spread the program's other static
// data over one more page, a fault on every run, while an untouched mapping costs none.
constexpr std::size_t kFaultStackBytes = 64 * 1024;

extern "C" void answer_fault(int) {
  write_fully(STDERR_FILENO, kConfigErrorText.data(), kConfigErrorText.size());
  write_fully(STDERR_FILENO, "\n", 1);
  ::_exit(2);
}

void answer_faults() {
  // Kept for the rest of the process, as the handlers that may run on it are. Without it,
  // every crash but one of the stack itself is still answered.
  void* stack =
      ::mmap(nullptr, kFaultStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
  if (stack != MAP_FAILED) {
    stack_t alternate{};
    alternate.ss_sp = stack;
    alternate.ss_size = kFaultStackBytes;
    ::sigaltstack(&alternate, nullptr);
  }
  struct sigaction action {};
  action.sa_handler = answer_fault;
  action.sa_flags = SA_ONSTACK;
  sigfillset(&action.sa_mask);
  for (int sig : fault_signals()) ::sigaction(sig, &action, nullptr);
}
#else
void answer_faults() {}
#endif

}  // namespace

void answer_signals_from_start() {
  struct sigaction action {};
  action.sa_handler = answer_and_exit;
  const SignalList signals = ending_signals();
  // A second signal must not interrupt the first answer half-written.
  action.sa_mask = set_of(signals);
  for (int sig : signals) catch_unless_ignored(sig, action);
  answer_faults();
}

void hold_signals() {
  const sigset_t set = set_of(ending_signals());
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

UnreachableOnSignal::UnreachableOnSignal(const std::optional<std::filesystem::path>& remote_marker)
    : marker_(remote_marker ? remote_marker->native() : std::string()),
      // A name the system cannot look up is no absent marker (read_marker: unknown).
      own_{kOnHoldText, 2,
           marker_.empty() || marker_.find('\0') != std::string::npos ? nullptr : marker_.c_str()},
      previous_(g_reply.load()) {
  g_reply = &own_;
}

UnreachableOnSignal::~UnreachableOnSignal() {
  g_reply = previous_;
}

}  // namespace kestrum
