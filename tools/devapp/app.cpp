#include "tools/devapp/app.hpp"

#include <fcntl.h>
#include <unistd.h>

#include "common/unique_fd.hpp"
#include "tools/devapp/hook_program.hpp"
#include "tools/devapp/hook_settings.hpp"

namespace kestrum::devapp {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const Json& params_of(const Json& message) {
  static const Json kEmpty = Json::object();
  const Json* params = object_member(message, "params");
  return params ? *params : kEmpty;
}

std::string text_of(const Json& object, std::string_view name) {
  const std::string* s = string_member(object, name);
  return s ? *s : "";
}

// Written once per registration, beside the profile's other files.
bool write_settings(const std::filesystem::path& file, const Json& settings) {
  const std::string text = dump_compact(settings) + "\n";
  const std::string temp = file.string() + ".tmp";
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!fd || ::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    ::unlink(temp.c_str());
    return false;
  }
  fd.reset();
  return ::rename(temp.c_str(), file.c_str()) == 0;
}

}  // namespace

DevApp::DevApp(const Layout& layout, AppConfig config, Log& log)
    : layout_(layout),
      config_(std::move(config)),
      log_(log),
      server_(layout.paths().socket_path()) {
  for (const std::string& id : config_.rules.remote_sessions) mark_remote(id);
  server_.observe(
      [this](const testkit::Received& r) { log_.received(r.connection, r.line, r.message); });
  install_handlers();
}

DevApp::~DevApp() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  decided_.notify_all();  // lets the clients' threads waiting on a person end
  server_.stop();
  for (const auto& file : settings_files_) ::unlink(file.c_str());
}

void DevApp::mark_remote(const std::string& session_id) {
  layout_.mark_remote(session_id);
  log_.note("session " + session_id + " is remote (a colleague's request)");
}

void DevApp::mark_local(const std::string& session_id) {
  layout_.mark_local(session_id);
  log_.note("session " + session_id + " is local");
}

testkit::Reply DevApp::answer(std::size_t connection, const std::string& method, Json result) {
  log_.answered(connection, method, result);
  return Reply::result(std::move(result));
}

void DevApp::install_handlers() {
  auto route = [this](const std::string& method, auto member_fn) {
    server_.on(method, [this, member_fn](const Json& message, std::size_t connection) {
      return (this->*member_fn)(params_of(message), connection);
    });
  };
  server_.on("hello", [this](const Json& message, std::size_t connection) {
    return hello(message, connection);
  });
  route("policy_check", &DevApp::policy_check);
  route("policy_wait", &DevApp::policy_wait);
  route("permission_decide", &DevApp::permission_decide);
  route("launch.register", &DevApp::launch_register);
  server_.on("prompt_submitted", [this](const Json&, std::size_t connection) {
    Json result = Json::object();
    if (config_.rules.prompt_context) result["additional_context"] = *config_.rules.prompt_context;
    return answer(connection, "prompt_submitted", std::move(result));
  });
  server_.on("config_change", [this](const Json& message, std::size_t connection) {
    const bool remote = layout_.is_remote(text_of(params_of(message), "session_id"));
    return answer(connection, "config_change", {{"block", remote}});
  });
  server_.on("launch_owned", [this](const Json& message, std::size_t connection) {
    const std::string token = text_of(params_of(message), "launch_token");
    std::lock_guard lock(mutex_);
    return answer(connection, "launch_owned", {{"owned", launch_tokens_.contains(token)}});
  });
  // Notifications are only logged, on arrival.
  for (const char* method : {"session_event", "policy_denied", "usage_report"}) {
    server_.on(method, Reply::silence());
  }
}

testkit::Reply DevApp::hello(const Json& message, std::size_t connection) {
  const Json& params = params_of(message);
  if (text_of(params, "token") != layout_.token()) {
    log_.answered(connection, "hello", {{"error", "wrong token"}});
    return Reply::error({{"code", -32001}, {"message", "wrong token"}});
  }
  return answer(connection, "hello", {{"protocol_version", 0u}});
}

std::string DevApp::hold(const Rule& rule, const Json& params) {
  const std::string call =
      text_of(params, "tool_name") + " " + dump_compact(params.value("tool_input", Json::object()));
  std::string id;
  {
    std::lock_guard lock(mutex_);
    id = "perm-" + std::to_string(next_perm_++);
    Hold& held = holds_[id];
    held.call = call;
    if (rule.after) {
      held.due = Clock::now() + *rule.after;
      held.verdict = {rule.then, rule.reason};
    }
  }
  if (!rule.after) {
    log_.note(id + " waits for you: " + call + "  (type: allow " + id + "  or: deny " + id +
              " [reason])");
  }
  return id;
}

bool DevApp::decide(const std::string& perm_id, Decision decision,
                    std::optional<std::string> reason) {
  {
    std::lock_guard lock(mutex_);
    const auto it = holds_.find(perm_id);
    if (it == holds_.end() || it->second.due || it->second.decided) return false;
    // Without a reason the hook would tell the model no decision came in time.
    if (decision == Decision::Deny && !reason) reason = "Declined by the person at the app.";
    it->second.verdict = {decision, std::move(reason)};
    it->second.decided = true;
  }
  decided_.notify_all();
  return true;
}

std::vector<std::string> DevApp::pending_holds() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (const auto& [id, held] : holds_) {
    if (!held.due && !held.decided) lines.push_back(id + "  " + held.call);
  }
  return lines;
}

std::optional<DevApp::Verdict> DevApp::await_person(const std::string& perm_id) {
  std::unique_lock lock(mutex_);
  decided_.wait(lock, [&] {
    const auto it = holds_.find(perm_id);
    return stopping_ || it == holds_.end() || it->second.decided;
  });
  const auto it = holds_.find(perm_id);
  if (stopping_ || it == holds_.end()) return std::nullopt;
  Verdict verdict = std::move(it->second.verdict);
  holds_.erase(it);
  return verdict;
}

testkit::Reply DevApp::policy_check(const Json& params, std::size_t connection) {
  const Rule* rule = config_.rules.match("PreToolUse", text_of(params, "tool_name"),
                                         params.value("tool_input", Json::object()));
  if (!rule) return answer(connection, "policy_check", {{"decision", nullptr}});
  if (rule->decision == Decision::Hold) {
    return answer(connection, "policy_check",
                  {{"decision", "hold"}, {"perm_id", hold(*rule, params)}});
  }
  Json result = {{"decision", to_string(rule->decision)}};
  if (rule->reason) result["reason"] = *rule->reason;
  return answer(connection, "policy_check", std::move(result));
}

testkit::Reply DevApp::policy_wait(const Json& params, std::size_t connection) {
  const std::string perm_id = text_of(params, "perm_id");
  std::optional<Hold> held;
  {
    std::lock_guard lock(mutex_);
    const auto it = holds_.find(perm_id);
    if (it != holds_.end()) held = it->second;
    if (held && held->due) holds_.erase(it);
  }
  if (!held) return answer(connection, "policy_wait", {{"decision", "deny"}});
  milliseconds wait{0};
  if (held->due) {
    wait = std::max(std::chrono::duration_cast<milliseconds>(*held->due - Clock::now()),
                    milliseconds(0));
    log_.note("#" + std::to_string(connection) + " " + perm_id + " is decided in " +
              std::to_string(wait.count()) + " ms");
  } else {
    auto verdict = await_person(perm_id);
    if (!verdict) return Reply::close();
    held->verdict = std::move(*verdict);
  }
  Json result = {{"decision", to_string(held->verdict.decision)}};
  if (held->verdict.reason) result["reason"] = *held->verdict.reason;
  Reply reply = answer(connection, "policy_wait", std::move(result));
  reply.after(wait);
  return reply;
}

testkit::Reply DevApp::permission_decide(const Json& params, std::size_t connection) {
  const Rule* rule = config_.rules.match("PermissionRequest", text_of(params, "tool_name"),
                                         params.value("tool_input", Json::object()));
  if (!rule || rule->decision == Decision::Ask) {
    return answer(connection, "permission_decide", {{"behavior", nullptr}});
  }
  Verdict verdict = {rule->decision, rule->reason};
  if (rule->decision == Decision::Hold && rule->after) {
    verdict.decision = rule->then;
  } else if (rule->decision == Decision::Hold) {
    auto given = await_person(hold(*rule, params));
    if (!given) return Reply::close();
    verdict = std::move(*given);
  }
  Json result = {{"behavior", to_string(verdict.decision)}};
  if (verdict.decision == Decision::Deny && verdict.reason) result["message"] = *verdict.reason;
  Reply reply = answer(connection, "permission_decide", std::move(result));
  if (rule->decision == Decision::Hold && rule->after) reply.after(*rule->after);
  return reply;
}

testkit::Reply DevApp::launch_register(const Json& params, std::size_t connection) {
  // Never hand out settings that name a missing hook: every tool call would run unchecked.
  if (!is_executable_file(config_.hook_program)) {
    log_.note("refusing the launch: " + config_.hook_program.string() + " is gone");
    return Reply::error({{"code", -32000}, {"message", "kestrum-hook is missing"}});
  }
  const std::string launch_token = random_token();
  log_.keep_secret(launch_token);
  const std::filesystem::path settings_file =
      layout_.paths().profile_dir() / ("devapp-settings-" + launch_token.substr(0, 12) + ".json");
  {
    std::lock_guard lock(mutex_);
    launch_tokens_.insert(launch_token);
    settings_files_.push_back(settings_file);
  }
  if (!write_settings(settings_file, hook_settings(config_.hook_program, config_.profile))) {
    log_.note("cannot write " + settings_file.string());
  }
  Json args = Json::array({"--settings", settings_file.string()});
  if (const std::string* mode = string_member(params, "mode")) {
    args.push_back("--permission-mode");
    args.push_back(*mode);
  }
  if (const std::string* resume = string_member(params, "resume")) {
    args.push_back("--resume");
    args.push_back(*resume);
  }
  Json env = {{"KESTRUM_DATA_DIR", layout_.data_dir().string()},
              {"KESTRUM_LAUNCH_TOKEN", launch_token},
              {"KESTRUM_SOCKET", layout_.paths().socket_path().string()}};
  if (config_.user_statusline) env["KESTRUM_USER_STATUSLINE"] = *config_.user_statusline;
  return answer(connection, "launch.register",
                {{"args", std::move(args)}, {"env", std::move(env)}});
}

}  // namespace kestrum::devapp
