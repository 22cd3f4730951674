#include "hook/signal_answer.hpp"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>

#include "common/signal_wait.hpp"
#include "common/signals.hpp"
#include "hook/messages.hpp"

namespace kestrum {
namespace {

#if !defined(KESTRUM_SANITIZED)
// A crash may come from an exhausted stack: the handler runs on a stack of its own. It is
// mapped, not static: a static array this size would spread the program's other static
// data over one more page, a fault on every run, while an untouched mapping costs none.
constexpr std::size_t kFaultStackBytes = 64 * 1024;

void write_fully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n <= 0) return;  // nothing else to do from a handler
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

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
  install_handler(fault_signals(), answer_fault, SA_ONSTACK);
}
#else
void answer_faults() {}
#endif

}  // namespace

void answer_signals_from_start() {
  hold_ending_signals();
  answer_faults();
}

}  // namespace kestrum
