#include "hook/intake.hpp"

#include "profile/token.hpp"

namespace kestrum {

Json parse_event(std::string_view input) {
  return parse_json(input).value_or(Json(nullptr));
}

std::optional<std::string> event_session_id(const Json& event) {
  const std::string* id = string_member(event, "session_id");
  if (!id || id->empty()) return std::nullopt;
  return *id;
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

}  // namespace kestrum
