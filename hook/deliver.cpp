#include "hook/deliver.hpp"

#include <algorithm>

#include "hook/fallback.hpp"
#include "hook/policy.hpp"
#include "hook/session_events.hpp"

namespace kestrum {
namespace {

Decided decide(const EventDelivery& d, const AppRequest& request) {
  const std::string_view name = d.kind.name;
  const std::chrono::nanoseconds request_timeout = d.env.request_timeout;
  if (name == "PreToolUse") {
    return pre_tool_use(request, d.limit,
                        std::max<std::chrono::nanoseconds>(request_timeout, kUserDecisionLimit));
  }
  if (name == "PermissionRequest") return permission_request(request, request_timeout, d.limit);
  if (name == "PermissionDenied") return permission_denied(request, d.limit);
  if (name == "UserPromptSubmit") return submit_prompt(request, d.limit);
  if (name == "ConfigChange") return report_config_change(request, d.limit);
  return report_session_event(request, d.limit);
}

}  // namespace

Outcome deliver_event(const EventDelivery& d) {
  const AppRequest request{d.paths.socket_path(), d.identity, d.params};
  if (Decided decided = decide(d, request)) return std::move(*decided);
  return app_unreachable(d.kind.blocking, d.session_id, d.paths);
}

}  // namespace kestrum
