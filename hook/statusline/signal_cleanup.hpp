// A status line process or supervisor stopped by a signal (SIGTERM, SIGINT, SIGHUP or any
// other that would end it) must not leave the user's command running past its time, nor a
// lock holding refreshes off until it goes stale: it cleans up as at the deadline, then the
// signal takes its course. Process-wide, one at a time.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/signals.hpp"
#include "hook/statusline/child.hpp"

namespace kestrum::statusline {

class SignalCleanup {
 public:
  SignalCleanup();
  // Restores the dispositions found.
  ~SignalCleanup();
  SignalCleanup(const SignalCleanup&) = delete;
  SignalCleanup& operator=(const SignalCleanup&) = delete;

  // The lock this process holds, released on a signal as Lock releases it.
  void guard_lock(const std::filesystem::path& path);
  // The command's process group, killed on a signal; 0 once it is gone.
  void guard_group(pid_t group);

 private:
  std::string lock_path_;
  std::string own_pid_;
  SignalList signals_;
  struct sigaction previous_[SignalList::kCapacity] {};
};

// Holds those signals while alive, so that a command started meanwhile is guarded
// before a signal can end this process. Started commands clear their mask themselves.
class HeldSignals {
 public:
  HeldSignals();
  ~HeldSignals();
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t previous_{};
};

// Starts `command` with the signals held and guards its group, so that no signal comes
// between its start and its guard.
std::optional<ChildHandle> spawn_guarded(const Command& command, std::string_view input,
                                         SignalCleanup& cleanup);

}  // namespace kestrum::statusline
