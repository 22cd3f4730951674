#include "hook/session_events.hpp"

#include "hook/rpc.hpp"

namespace kestrum {
namespace {

std::optional<Json> ask(const AppRequest& request, std::string_view method,
                        std::chrono::nanoseconds limit) {
  auto result = rpc_call(request.socket_path, request.identity, method, Delivery::Request,
                         request.params, limit);
  if (!result || !*result) return std::nullopt;
  return std::move(**result);
}

}  // namespace

Outcome map_prompt_answer(const Json& result) {
  const std::string* context = string_member(result, "additional_context");
  if (!context || context->empty()) return Outcome::empty();
  Json output = Json::object();
  output["additionalContext"] = *context;
  output["hookEventName"] = "UserPromptSubmit";
  Json text = Json::object();
  text["hookSpecificOutput"] = std::move(output);
  return Outcome::output(dump_compact(text));
}

Decided map_config_answer(const Json& result) {
  const Json* block = member(result, "block");
  if (!block || !block->is_boolean()) return std::nullopt;
  if (!block->get<bool>()) return Outcome::empty();
  Json text = Json::object();
  text["decision"] = "block";
  text["reason"] = std::string(kConfigBlockReason);
  return Outcome::output(dump_compact(text));
}

Decided report_session_event(const AppRequest& request, std::chrono::nanoseconds limit) {
  if (!rpc_call(request.socket_path, request.identity, "session_event", Delivery::Notification,
                request.params, limit)) {
    return std::nullopt;
  }
  return Outcome::empty();
}

Decided submit_prompt(const AppRequest& request, std::chrono::nanoseconds limit) {
  const auto result = ask(request, "prompt_submitted", limit);
  if (!result) return std::nullopt;
  return map_prompt_answer(*result);
}

Decided report_config_change(const AppRequest& request, std::chrono::nanoseconds limit) {
  const auto result = ask(request, "config_change", limit);
  if (!result) return std::nullopt;
  return map_config_answer(*result);
}

}  // namespace kestrum
