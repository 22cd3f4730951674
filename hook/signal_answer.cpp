#include "hook/signal_answer.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <iterator>

namespace kestrum {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Read by the handler only: set before the signals are armed, cleared after they are not.
// Lock-free atomics are what a handler may read.
std::atomic<const char*> g_out{nullptr};
std::atomic<std::size_t> g_out_size{0};
std::atomic<const char*> g_err{nullptr};
std::atomic<std::size_t> g_err_size{0};
std::atomic<int> g_status{0};
static_assert(std::atomic<const char*>::is_always_lock_free &&
              std::atomic<std::size_t>::is_always_lock_free &&
              std::atomic<int>::is_always_lock_free);

void write_fully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return;  // nothing else to do from a handler
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

extern "C" void answer_and_exit(int) {
  write_fully(STDOUT_FILENO, g_out, g_out_size);
  write_fully(STDERR_FILENO, g_err, g_err_size);
  ::_exit(g_status);
}

}  // namespace

SignalAnswer::SignalAnswer(const Outcome& answer)
    : out_(answer.out ? *answer.out + "\n" : ""), err_(answer.err ? *answer.err + "\n" : "") {
  g_out = out_.data();
  g_out_size = out_.size();
  g_err = err_.data();
  g_err_size = err_.size();
  g_status = answer.status <= 255 ? static_cast<int>(answer.status) : 2;

  struct sigaction action {};
  action.sa_handler = answer_and_exit;
  sigemptyset(&action.sa_mask);
  // A second signal must not interrupt the first answer half-written.
  for (int sig : kSignals) sigaddset(&action.sa_mask, sig);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    // A signal the hook was started ignoring (nohup) stays ignored: it ends no wait.
    if (::sigaction(kSignals[i], nullptr, &previous_[i]) == 0 &&
        previous_[i].sa_handler != SIG_IGN) {
      ::sigaction(kSignals[i], &action, nullptr);
    }
  }
}

SignalAnswer::~SignalAnswer() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    ::sigaction(kSignals[i], &previous_[i], nullptr);
  }
  g_out = nullptr;
  g_err = nullptr;
  g_out_size = 0;
  g_err_size = 0;
}

}  // namespace kestrum
