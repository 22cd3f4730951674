// While the hook waits for the app, Claude Code may give up on it (SIGTERM) or the user may
// interrupt it (SIGINT, SIGHUP). Dying silently would let the call run although the app
// never answered; instead the hook answers what it answers when the app is unreachable.
#pragma once

#include <csignal>
#include <string>

#include "hook/outcome.hpp"

namespace kestrum {

// Arms the three signals to print `answer` (as the entry would) and exit with its status,
// at once. The text is prepared here, so the handler only writes and exits. Disarming
// restores the previous dispositions. One at a time per process.
class SignalAnswer {
 public:
  explicit SignalAnswer(const Outcome& answer);
  ~SignalAnswer();
  SignalAnswer(const SignalAnswer&) = delete;
  SignalAnswer& operator=(const SignalAnswer&) = delete;

 private:
  std::string out_;
  std::string err_;
  struct sigaction previous_[3]{};
};

}  // namespace kestrum
