#include <filesystem>
#include <optional>

#include "common/signals.hpp"
#include "hook/statusline/cache.hpp"
#include "hook/statusline/cap.hpp"
#include "hook/statusline/child.hpp"
#include "hook/statusline/lock.hpp"
#include "hook/statusline/signal_cleanup.hpp"
#include "hook/statusline/statusline.hpp"

namespace kestrum::statusline {
namespace {

// The word after the first occurrence of `name`; an option that ends the words has none.
std::optional<std::filesystem::path> option_value(const std::vector<std::string>& args,
                                                  std::string_view name) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name) continue;
    if (i + 1 == args.size()) return std::nullopt;
    return std::filesystem::path(args[i + 1]);
  }
  return std::nullopt;
}

// The user's command under the cap; nothing when it fails to start, outlives the cap or
// prints only line ends.
std::optional<std::string> run_capped(const std::string& command, std::string_view input,
                                      SignalCleanup& cleanup) {
  const auto cap = cap_from_environment();
  auto child = spawn_guarded(shell_command(command), input, cleanup);
  if (!child) return std::nullopt;
  auto output = wait_for_output(std::move(*child), Clock::now() + cap, AtDeadline::Kill);
  cleanup.guard_group(0);
  return output;
}

}  // namespace

Outcome supervise(const std::vector<std::string>& args, std::string_view input, const Env& env) {
  if (!env.user_statusline) return Outcome::empty();
  wait_for_children_normally();
  const auto cache = option_value(args, "--out");
  const auto lock_path = option_value(args, "--lock");

  SignalCleanup cleanup;
  std::optional<Lock> lock;
  if (lock_path) {
    const HeldSignals held;
    auto acquired = acquire_lock(*lock_path);
    if (!acquired) return Outcome::empty();  // another supervisor is at work
    lock = std::move(*acquired);
    if (lock) cleanup.guard_lock(*lock_path);
  }

  auto output = run_capped(*env.user_statusline, input, cleanup);
  if (cache && output) {
    // A signal waits for the write: the handler knows nothing of its temporary file.
    const HeldSignals held;
    write_cache(*cache, *output);
  }
  // The cache is complete and the lock gone before anything is printed.
  lock.reset();
  return output ? Outcome::output(std::move(*output)) : Outcome::empty();
}

}  // namespace kestrum::statusline
