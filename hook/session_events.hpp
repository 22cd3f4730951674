// Session, prompt and configuration events: reported to the app, which may add context to
// a prompt or block a configuration change.
#pragma once

#include <chrono>
#include <string_view>

#include "hook/json.hpp"
#include "hook/outcome.hpp"
#include "hook/policy.hpp"

namespace kestrum {

// The only reason ever given for a block; the app cannot supply its own.
inline constexpr std::string_view kConfigBlockReason =
    "kestrum: 원격 작업 중에는 설정을 바꿀 수 없다";

// Context for a non-empty "additional_context" string; otherwise nothing to say.
Outcome map_prompt_answer(const Json& result);
// A block for "block" true, nothing for false; unexpected for anything else.
Decided map_config_answer(const Json& result);

// The "session_event" notification; nothing comes back.
Decided report_session_event(const AppRequest& request, std::chrono::nanoseconds limit);
Decided submit_prompt(const AppRequest& request, std::chrono::nanoseconds limit);
Decided report_config_change(const AppRequest& request, std::chrono::nanoseconds limit);

}  // namespace kestrum
