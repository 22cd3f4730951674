// Claude Code may give up on the hook (SIGTERM) or the user may interrupt it (SIGINT,
// SIGHUP, SIGQUIT) at any moment, a resource limit may end it (SIGXCPU), and memory may
// run out. For a blocking event, dying silently or by a crash would let the call run
// although nobody allowed it: instead the hook answers what it answers for what it knows
// at that moment. Everything here is process-wide.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrum {

// What a signal is answered with; published whole, never changed while published.
struct SignalReply {
  std::string_view err;  // written with a line feed to standard error
  int status;
  const char* marker;  // when set and absent in the moment: the empty answer instead
};

// At the start of a blocking event, before anything may fail: every signal that would end
// the process, and a crash (in a build without sanitizers, whose reports those are), give
// the configuration-error answer, as an internal failure does.
void answer_signals_from_start();

// Once the answer is decided: a signal then waits for the exit, which ends it.
void hold_signals();

// While alive, a signal gets the answer for an unreachable app, the session's remote
// marker looked at in that moment (so a session marked during a long wait is held):
// with no marker path (no session known yet) on hold. Afterwards, the answer before it.
class UnreachableOnSignal {
 public:
  explicit UnreachableOnSignal(const std::optional<std::filesystem::path>& remote_marker);
  ~UnreachableOnSignal();
  UnreachableOnSignal(const UnreachableOnSignal&) = delete;
  UnreachableOnSignal& operator=(const UnreachableOnSignal&) = delete;

 private:
  std::string marker_;
  SignalReply own_;
  const SignalReply* previous_;
};

}  // namespace kestrum
