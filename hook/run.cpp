#include "hook/run.hpp"

#include <algorithm>
#include <span>

#include "hook/deliver.hpp"
#include "hook/event.hpp"
#include "hook/event_table.hpp"
#include "hook/fallback.hpp"
#include "hook/ownership.hpp"
#include "hook/policy.hpp"
#include "hook/profile_options.hpp"
#include "hook/statusline/statusline.hpp"

namespace kestrum {
namespace {

Outcome run_event(const EventKind& kind, std::span<const std::string> options,
                  std::string_view input, const Env& env) {
  const Outcome refused = kind.blocking ? config_error() : Outcome::empty();
  const auto profile = select_profile(options);
  if (!profile || !env.home) return refused;
  const auto paths =
      ProfilePaths::with_root(choose_data_dir(options, *env.home, env.dev), *profile);
  if (!paths) return refused;

  const Json event = parse_event(input);
  const std::optional<std::string> session_id = event_session_id(event);

  const Ownership ownership = launch_ownership(env, *paths, session_id);
  if (kind.name == "SessionEnd") {
    if (auto marker = skip_marker_path(*paths, session_id)) remove_skip_marker(*marker);
  }
  if (ownership == Ownership::OwnedElsewhere) return Outcome::empty();
  if (!session_id) return app_unreachable(kind.blocking, session_id, *paths);

  const std::string config_dir = config_directory(env);
  const Json params = method_params(kind.name, event, config_dir);
  const auto identity = identity_object(event, *session_id, config_dir, env, paths->token_path());
  if (!identity) return app_unreachable(kind.blocking, session_id, *paths);

  std::chrono::nanoseconds limit = env.request_timeout;
  if (kind.name == "PermissionRequest") {
    limit = std::max<std::chrono::nanoseconds>(limit, kUserDecisionLimit);
  }
  return deliver_event({kind, *paths, session_id, params, *identity, limit, env});
}

}  // namespace

Outcome run(const std::vector<std::string>& args, std::string_view input, const Env& env) {
  if (args.empty()) return Outcome::empty();
  const std::string& mode = args.front();
  if (mode == "statusline") return statusline::run(args, input, env);
  if (mode == "statusline-user") return statusline::supervise(args, input, env);
  if (const EventKind* kind = find_event(mode)) {
    return run_event(*kind, std::span(args).subspan(1), input, env);
  }
  return Outcome::empty();
}

}  // namespace kestrum
