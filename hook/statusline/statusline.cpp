#include "hook/statusline/statusline.hpp"

#include <span>

#include "common/json.hpp"
#include "common/signals.hpp"
#include "common/utf8.hpp"
#include "hook/intake.hpp"
#include "hook/statusline/cache.hpp"
#include "hook/statusline/child.hpp"
#include "hook/statusline/limits.hpp"
#include "hook/statusline/lock.hpp"
#include "hook/statusline/signal_cleanup.hpp"
#include "hook/statusline/usage_report.hpp"
#include "profile/profile_options.hpp"

namespace kestrum::statusline {
namespace {

bool has_user_command(const Env& env) {
  return env.user_statusline && !trim_unicode_whitespace(*env.user_statusline).empty();
}

Command supervisor_command(const Env& env, const std::filesystem::path& exe,
                           const std::filesystem::path& cache, const std::filesystem::path& lock) {
  Command command;
  command.program = exe.native();
  command.args = {"statusline-user", "--out", cache, "--lock", lock};
  command.env_changes = {{"KESTRUM_USER_STATUSLINE", *env.user_statusline}};
  command.background = true;  // it finishes and fills the cache after this process is gone
  return command;
}

Command direct_command(const Env& env) {
  return Command{"/bin/sh", {"-c", *env.user_statusline}, {}, false};
}

struct Started {
  std::optional<ChildHandle> child;
  std::optional<std::filesystem::path> cache;
  bool kill_at_window_end = false;
};

Started start_user_command(const std::optional<SessionPaths>& session, std::string_view input,
                           const Env& env) {
  Started started;
  if (!has_user_command(env)) return started;
  std::optional<Command> command;
  if (session) {
    started.cache = session->paths.statusline_out(session->session_id);
    const auto lock = session->paths.statusline_lock(session->session_id);
    // A supervisor is at work or has just finished: the cache answers.
    if (lock_is_fresh(lock)) return started;
    // The supervisor is this program again.
    const auto exe = env.current_exe ? env.current_exe() : std::nullopt;
    if (!exe) return started;
    command = supervisor_command(env, *exe, *started.cache, lock);
  } else {
    command = direct_command(env);
    started.kill_at_window_end = true;
  }
  if (auto child = spawn_with_input(*command, input)) started.child.emplace(std::move(*child));
  return started;
}

// The command that dies with the window dies with this process too, when a signal ends
// it: it is guarded before a signal can come between its start and its guard.
Started start_guarded(const std::optional<SessionPaths>& session, std::string_view input,
                      const Env& env, std::optional<SignalCleanup>& cleanup) {
  if (session) return start_user_command(session, input, env);
  cleanup.emplace();
  const HeldSignals held;
  Started started = start_user_command(session, input, env);
  if (started.child) cleanup->guard_group(static_cast<pid_t>(started.child->pid()));
  return started;
}

}  // namespace

std::optional<SessionPaths> resolve_session_paths(const std::vector<std::string>& args,
                                                  const Json& status, const Env& env) {
  const std::span<const std::string> words =
      args.empty() ? std::span<const std::string>() : std::span(args).subspan(1);
  auto paths = resolve_profile_paths(words, env);
  if (!paths) return std::nullopt;
  auto session_id = event_session_id(status);
  if (!session_id) return std::nullopt;
  return SessionPaths{std::move(*paths), std::move(*session_id)};
}

Outcome run(const std::vector<std::string>& args, std::string_view input, const Env& env) {
  const Clock::time_point window_end = Clock::now() + kWindow;
  wait_for_children_normally();
  const Json status =
      parse_json(input, JsonBudget{kMaxStatusValues, window_end}).value_or(Json(nullptr));
  // Resolved once: both the command and the usage report need it.
  const std::optional<SessionPaths> session = resolve_session_paths(args, status, env);

  std::optional<SignalCleanup> cleanup;
  Started started = start_guarded(session, input, env, cleanup);
  report_usage(session, status, env);

  std::optional<std::string> output;
  if (started.child) {
    output = wait_for_output(std::move(*started.child), window_end, started.kill_at_window_end);
    if (cleanup) cleanup->guard_group(0);
  }
  if (!output && started.cache) output = read_cache(*started.cache);
  return output ? Outcome::output(std::move(*output)) : Outcome::empty();
}

}  // namespace kestrum::statusline
