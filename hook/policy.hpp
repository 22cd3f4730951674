// Tool-use and permission decisions: the hook asks the app and answers Claude Code.
#pragma once

#include <string_view>

#include "common/json.hpp"
#include "hook/app_request.hpp"
#include "hook/outcome.hpp"

namespace kestrum {

Outcome pre_tool_allow();
// The PreToolUse answer with "ask" or "deny" and a reason.
Outcome pre_tool_verdict(std::string_view decision, std::string_view reason);

Decided map_pre_tool_answer(const Json& result);
Outcome map_wait_answer(const Json& result);
Decided map_permission_answer(const Json& result);

// The check by now + `request_limit`; on "hold", "policy_wait" on the same connection by
// (the moment the hold arrived) + `person_limit`.
Decided pre_tool_use(const AppRequest& request);

// Connecting and greeting get `request_limit`; only the answer may take `person_limit`
// (counted from the start), so an app that never greets cannot hold the dialog for long.
Decided permission_request(const AppRequest& request);

}  // namespace kestrum
