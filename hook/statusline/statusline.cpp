#include "hook/statusline/statusline.hpp"

#include <span>

#include "common/deadline.hpp"
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

// The supervisor is this program again, left running in the background: it finishes and
// fills the cache after this process is gone.
Command supervisor_command(const Env& env, const std::filesystem::path& exe,
                           const std::filesystem::path& cache, const std::filesystem::path& lock) {
  return Command{.program = exe.native(),
                 .args = {"statusline-user", "--out", cache, "--lock", lock},
                 .env_changes = {{"KESTRUM_USER_STATUSLINE", *env.user_statusline}},
                 .background = true};
}

struct Started {
  std::optional<ChildHandle> child;
  std::optional<std::filesystem::path> cache;
  AtDeadline at_window_end = AtDeadline::LetRun;
};

// With a session, a supervisor runs the command and leaves its output in the session's
// cache; without one, the command runs here and dies with the window, or with this process
// when a signal ends it first.
Started start_user_command(const std::optional<SessionPaths>& session, std::string_view input,
                           const Env& env, std::optional<SignalCleanup>& cleanup) {
  Started started;
  if (!has_user_command(env)) return started;
  if (!session) {
    auto child = spawn_guarded(shell_command(*env.user_statusline), input, cleanup.emplace());
    if (child) started.child.emplace(std::move(*child));
    started.at_window_end = AtDeadline::Kill;
    return started;
  }
  started.cache = session->paths.statusline_out(session->session_id);
  const auto lock = session->paths.statusline_lock(session->session_id);
  // A supervisor is at work or has just finished: the cache answers.
  if (lock_is_fresh(lock)) return started;
  const auto exe = env.current_exe ? env.current_exe() : std::nullopt;
  if (!exe) return started;
  auto child = spawn_with_input(supervisor_command(env, *exe, *started.cache, lock), input);
  if (child) started.child.emplace(std::move(*child));
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
  const Clock::time_point window_end = Clock::now() + kStatusLineWindow;
  wait_for_children_normally();
  const Json status =
      parse_json(input, JsonBudget{kMaxStatusValues, window_end}).value_or(Json(nullptr));
  // Resolved once: both the command and the usage report need it.
  const std::optional<SessionPaths> session = resolve_session_paths(args, status, env);

  std::optional<SignalCleanup> cleanup;
  Started started = start_user_command(session, input, env, cleanup);
  // Between the start and the wait: the user's command runs while the report is sent, so
  // the report costs the window nothing unless the command is faster than it.
  report_usage(session, status, env);

  std::optional<std::string> output;
  if (started.child) {
    output = wait_for_output(std::move(*started.child), window_end, started.at_window_end);
    if (cleanup) cleanup->guard_group(0);
  }
  if (!output && started.cache) output = read_cache(*started.cache);
  return output ? Outcome::output(std::move(*output)) : Outcome::empty();
}

}  // namespace kestrum::statusline
