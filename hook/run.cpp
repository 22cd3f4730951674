#include "hook/run.hpp"

#include <algorithm>
#include <span>

#include "common/deadline.hpp"
#include "hook/events.hpp"
#include "hook/fallback.hpp"
#include "hook/intake.hpp"
#include "hook/ownership/ownership.hpp"
#include "hook/ownership/skip_marker.hpp"
#include "hook/statusline/statusline.hpp"
#include "profile/profile_options.hpp"

namespace kestrum {
namespace {

// The one limit rule: ordinary waits get the environment's timeout; where a person may
// decide, that answer gets at least kUserDecisionLimit.
AppRequest app_request(const EventKind& kind, const ProfilePaths& paths, const Json& identity,
                       const Json& params, const Env& env) {
  return {paths.socket_path(),
          kind.method,
          identity,
          params,
          env.request_timeout,
          kind.waits_for_person
              ? std::max<std::chrono::nanoseconds>(env.request_timeout, kUserDecisionLimit)
              : env.request_timeout};
}

Outcome run_event(const EventKind& kind, std::span<const std::string> options,
                  std::string_view input, const Env& env) {
  const auto paths = resolve_profile_paths(options, env);
  if (!paths) return kind.blocking ? config_error() : Outcome::empty();

  Json event = parse_event(input);
  const std::optional<std::string> session_id = event_session_id(event);

  const auto ownership = ownership::launch_ownership(env, *paths, session_id);
  if (kind.ends_session) {
    if (auto marker = ownership::skip_marker_path(*paths, session_id)) {
      ownership::remove_skip_marker(*marker);
    }
  }
  if (ownership == ownership::Ownership::OwnedElsewhere) return Outcome::empty();
  if (!session_id) return app_unreachable(kind.blocking, session_id, *paths);

  const std::string config_dir = config_directory(env);
  const Json params = kind.params({kind.name, event, config_dir});
  const auto identity = identity_object(event, *session_id, config_dir, env, paths->token_path());
  if (!identity) return app_unreachable(kind.blocking, session_id, *paths);

  if (Decided decided = kind.deliver(app_request(kind, *paths, *identity, params, env))) {
    return std::move(*decided);
  }
  // Also where a held signal ended a wait (signal_answer.hpp). The marker is read now: the
  // app may have marked the session remote during a long wait.
  return app_unreachable(kind.blocking, session_id, *paths);
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
