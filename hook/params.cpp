#include "hook/params.hpp"

#include "common/sha256.hpp"
#include "common/utf8.hpp"

namespace kestrum {
namespace {

constexpr std::size_t kPromptHeadChars = 200;

void copy_string(Json& params, const Json& event, const char* name) {
  if (const std::string* s = string_member(event, name)) params[name] = *s;
}

void copy_bool(Json& params, const Json& event, const char* name) {
  const Json* m = member(event, name);
  if (m && m->is_boolean()) params[name] = *m;
}

Json take_tool_input(Json& event) {
  if (!event.is_object()) return Json::object();
  const auto input = event.find("tool_input");
  if (input == event.end() || !input->is_object()) return Json::object();
  return std::move(*input);
}

// The members every method carries.
Json common_params(const Json& event) {
  Json params = Json::object();
  for (const char* name :
       {"session_id", "prompt_id", "cwd", "permission_mode", "transcript_path"}) {
    copy_string(params, event, name);
  }
  return params;
}

}  // namespace

Json session_event_params(const EventInput& input) {
  Json params = common_params(input.event);
  params["event"] = input.name;
  params["config_dir"] = input.config_dir;
  for (const char* name : {"notification_type", "agent_id", "agent_type"}) {
    copy_string(params, input.event, name);
  }
  copy_bool(params, input.event, "stop_hook_active");
  return params;
}

Json post_tool_params(const EventInput& input) {
  Json params = session_event_params(input);
  if (auto key = tool_key(input.event)) params["tool_key"] = std::move(*key);
  return params;
}

Json config_change_params(const EventInput& input) {
  Json params = common_params(input.event);
  copy_string(params, input.event, "source");
  copy_string(params, input.event, "file_path");
  return params;
}

Json prompt_params(const EventInput& input) {
  Json params = common_params(input.event);
  const std::string* prompt = string_member(input.event, "prompt");
  if (prompt) {
    // A prompt that is not valid UTF-8 cannot come from the JSON parser.
    params["prompt_head"] = prompt->substr(0, utf8_prefix_length(*prompt, kPromptHeadChars));
    params["prompt_sha256"] = sha256_hex(*prompt);
  } else {
    params["prompt_head"] = "";
  }
  return params;
}

Json pre_tool_params(const EventInput& input) {
  Json params = common_params(input.event);
  copy_string(params, input.event, "tool_name");
  copy_string(params, input.event, "agent_id");
  params["tool_input"] = take_tool_input(input.event);
  return params;
}

Json permission_params(const EventInput& input) {
  Json params = common_params(input.event);
  copy_string(params, input.event, "tool_name");
  if (auto key = tool_key(input.event)) params["tool_key"] = std::move(*key);
  params["tool_input"] = take_tool_input(input.event);  // after the key, which reads it
  return params;
}

std::optional<std::string> tool_key(const Json& event) {
  const std::string* name = string_member(event, "tool_name");
  const Json* input = object_member(event, "tool_input");
  if (!name || !input) return std::nullopt;
  return sha256_hex(*name + "\n" + canonical_json(*input));
}

}  // namespace kestrum
