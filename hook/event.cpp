#include "hook/event.hpp"

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "hook/token.hpp"
#include "paths/sha256.hpp"
#include "paths/utf8.hpp"

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

Json tool_input_copy(const Json& event) {
  const Json* input = object_member(event, "tool_input");
  return input ? *input : Json::object();
}

bool is_session_event(std::string_view name) {
  static constexpr std::string_view kNames[] = {"SessionStart", "SessionEnd",    "Stop",
                                                "StopFailure",  "SubagentStart", "SubagentStop",
                                                "Notification", "PostToolUse"};
  return std::ranges::find(kNames, name) != std::end(kNames);
}

void write_canonical(const Json& value, std::string& out) {
  if (value.is_object()) {
    // Sorted here rather than trusted to the container, so any object type works.
    std::vector<const std::string*> names;
    names.reserve(value.size());
    for (const auto& [name, _] : value.items()) names.push_back(&name);
    std::ranges::sort(names, [](const auto* a, const auto* b) { return *a < *b; });
    out += '{';
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i) out += ',';
      out += dump_compact(Json(*names[i]));
      out += ':';
      write_canonical(value.at(*names[i]), out);
    }
    out += '}';
  } else if (value.is_array()) {
    out += '[';
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (i) out += ',';
      write_canonical(value[i], out);
    }
    out += ']';
  } else {
    out += dump_compact(value);
  }
}

}  // namespace

Json parse_event(std::string_view input) {
  return parse_json(input).value_or(Json(nullptr));
}

std::optional<std::string> event_session_id(const Json& event) {
  const std::string* id = string_member(event, "session_id");
  if (!id || id->empty()) return std::nullopt;
  return *id;
}

std::string config_directory(const Env& env) {
  std::string dir;
  if (env.claude_config_dir) {
    dir = *env.claude_config_dir;
  } else if (env.home) {
    dir = to_utf8_lossy((*env.home / ".claude").native());
  }
  const std::size_t last = dir.find_last_not_of('/');
  if (last != std::string::npos) dir.erase(last + 1);
  return dir;
}

std::optional<std::string> current_directory() {
  std::vector<char> buf(4096);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE || buf.size() > (1u << 20)) return std::nullopt;
    buf.resize(buf.size() * 2);
  }
  return to_utf8_lossy(buf.data());
}

std::optional<Json> identity_object(const Json& event, std::string_view session_id,
                                    std::string_view config_dir, const Env& env,
                                    const std::filesystem::path& token_path) {
  auto token = read_token(token_path);
  if (!token) return std::nullopt;
  std::string cwd;
  if (const std::string* event_cwd = string_member(event, "cwd")) {
    cwd = *event_cwd;
  } else if (auto here = current_directory()) {
    cwd = std::move(*here);
  } else {
    return std::nullopt;
  }
  Json identity = {
      {"config_dir", config_dir},   {"cwd", std::move(cwd)}, {"pid", env.reported_pid()},
      {"protocol_version", 0u},     {"role", "hook"},        {"session_id", session_id},
      {"token", std::move(*token)},
  };
  if (env.launch_token) identity["launch_token"] = *env.launch_token;
  return identity;
}

std::optional<std::string> tool_key(const Json& event) {
  const std::string* name = string_member(event, "tool_name");
  const Json* input = object_member(event, "tool_input");
  if (!name || !input) return std::nullopt;
  return sha256_hex(*name + "\n" + canonical_json(*input));
}

std::string canonical_json(const Json& value) {
  std::string out;
  write_canonical(value, out);
  return out;
}

Json method_params(std::string_view event_name, const Json& event, std::string_view config_dir) {
  Json params = Json::object();
  for (const char* name :
       {"session_id", "prompt_id", "cwd", "permission_mode", "transcript_path"}) {
    copy_string(params, event, name);
  }
  if (is_session_event(event_name)) {
    params["event"] = event_name;
    params["config_dir"] = config_dir;
    for (const char* name : {"notification_type", "agent_id", "agent_type"}) {
      copy_string(params, event, name);
    }
    copy_bool(params, event, "stop_hook_active");
    if (event_name == "PostToolUse") {
      if (auto key = tool_key(event)) params["tool_key"] = std::move(*key);
    }
  } else if (event_name == "ConfigChange") {
    copy_string(params, event, "source");
    copy_string(params, event, "file_path");
  } else if (event_name == "UserPromptSubmit") {
    const std::string* prompt = string_member(event, "prompt");
    if (prompt) {
      // A prompt that is not valid UTF-8 cannot come from the JSON parser.
      params["prompt_head"] = prompt->substr(0, utf8_prefix_length(*prompt, kPromptHeadChars));
      params["prompt_sha256"] = sha256_hex(*prompt);
    } else {
      params["prompt_head"] = "";
    }
  } else if (event_name == "PreToolUse") {
    copy_string(params, event, "tool_name");
    copy_string(params, event, "agent_id");
    params["tool_input"] = tool_input_copy(event);
  } else if (event_name == "PermissionRequest" || event_name == "PermissionDenied") {
    copy_string(params, event, "tool_name");
    if (auto key = tool_key(event)) params["tool_key"] = std::move(*key);
    params["tool_input"] = tool_input_copy(event);
  }
  return params;
}

}  // namespace kestrum
