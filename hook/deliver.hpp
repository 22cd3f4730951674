// Step 13 of a hook event: deliver it to the app and map the answer for Claude Code.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "hook/env.hpp"
#include "hook/event_table.hpp"
#include "hook/json.hpp"
#include "hook/outcome.hpp"
#include "paths/profile_paths.hpp"

namespace kestrum {

struct EventDelivery {
  const EventKind& kind;
  const ProfilePaths& paths;
  const std::optional<std::string>& session_id;
  const Json& params;
  const Json& identity;
  std::chrono::nanoseconds limit;  // of the exchange (2 s, or 615 s for PermissionRequest)
  const Env& env;
};

Outcome deliver_event(const EventDelivery& delivery);

}  // namespace kestrum
