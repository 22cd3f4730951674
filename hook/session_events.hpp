// Session, prompt and configuration events, and the notifications: reported to the app,
// which may add context to a prompt or block a configuration change.
#pragma once

#include "common/json.hpp"
#include "hook/app_request.hpp"
#include "hook/outcome.hpp"

namespace kestrum {

// Context for a non-empty "additional_context" string; otherwise nothing to say.
Outcome map_prompt_answer(const Json& result);
// A block for "block" true, nothing for false; unexpected for anything else.
Decided map_config_answer(const Json& result);

// The event's method as a notification; nothing comes back.
Decided notify_app(const AppRequest& request);
Decided submit_prompt(const AppRequest& request);
Decided report_config_change(const AppRequest& request);

}  // namespace kestrum
