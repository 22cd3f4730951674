#include "hook/session_events.hpp"

#include "appclient/app_session.hpp"
#include "hook/event_names.hpp"
#include "hook/messages.hpp"

namespace kestrum {
namespace {

std::expected<Json, RpcError> ask(const AppRequest& request) {
  auto session = AppSession::open(request.socket_path, request.identity, request.request_limit);
  if (!session) return std::unexpected(session.error());
  return session->call(request.method, request.params);
}

}  // namespace

Outcome map_prompt_answer(const Json& result) {
  const std::string* context = string_member(result, "additional_context");
  if (!context || context->empty()) return Outcome::empty();
  Json output = Json::object();
  output["additionalContext"] = *context;
  output["hookEventName"] = event_name::kUserPromptSubmit;
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

Decided notify_app(const AppRequest& request) {
  auto session = AppSession::open(request.socket_path, request.identity, request.request_limit);
  if (!session || !session->notify(request.method, request.params)) return std::nullopt;
  return Outcome::empty();
}

Decided submit_prompt(const AppRequest& request) {
  const auto result = ask(request);
  if (!result) return std::nullopt;
  return map_prompt_answer(*result);
}

Decided report_config_change(const AppRequest& request) {
  const auto result = ask(request);
  if (!result) return std::nullopt;
  return map_config_answer(*result);
}

}  // namespace kestrum
