#include "tools/standin_claude/session.hpp"

#include <unistd.h>

#include <random>

#include "hook/intake.hpp"
#include "testing/process/process.hpp"

namespace kestrum::standin {
namespace {

std::string random_id() {
  std::random_device rd;
  std::uniform_int_distribution<int> hex(0, 15);
  std::string id;
  for (int i : {8, 4, 4, 4, 12}) {
    if (!id.empty()) id += '-';
    for (int k = 0; k < i; ++k) id += "0123456789abcdef"[hex(rd)];
  }
  return id;
}

}  // namespace

Session::Session(Settings settings)
    : settings_(std::move(settings)),
      session_id_(random_id()),
      cwd_(current_directory().value_or("/")),
      prompt_id_(random_id()) {}

HookAnswer Session::run_command(const std::string& command, const std::string& input,
                                std::chrono::seconds timeout) {
  testkit::RunOptions options;
  options.args = {"-c", command};
  options.input = input;
  options.inherit_env = true;
  // What Claude Code adds to the environment of its hooks.
  options.env = {{"CLAUDE_PID", std::to_string(::getpid())},
                 {"CLAUDE_PROJECT_DIR", cwd_},
                 {"CLAUDE_CODE_SESSION_ID", session_id_},
                 {"CLAUDECODE", "1"},
                 {"CLAUDE_CODE_ENTRYPOINT", "cli"}};
  options.timeout = timeout;
  const testkit::RunResult r = testkit::run_program("/bin/sh", options);
  HookAnswer answer{true, r.status, r.out, r.err, static_cast<long>(r.elapsed.count())};
  if (r.signal != 0 || (r.status != 0 && r.status != 2)) behaved_ = false;
  return answer;
}

HookAnswer Session::fire(const std::string& event, Json payload, const std::string& tool_name) {
  payload["cwd"] = cwd_;
  payload["hook_event_name"] = event;
  payload["session_id"] = session_id_;
  payload["transcript_path"] = cwd_ + "/.transcript-" + session_id_ + ".jsonl";
  if (event != "SessionStart") payload["prompt_id"] = prompt_id_;
  HookAnswer last;
  const auto it = settings_.hooks.find(event);
  if (it == settings_.hooks.end()) return last;
  for (const HookCommand& hook : it->second) {
    if (!tool_name.empty() && !matches(hook, tool_name)) continue;
    last = run_command(hook.command, dump_compact(payload) + "\n", hook.timeout);
    if (!last.out.empty() && !parse_json(last.out)) {
      behaved_ = false;  // Claude Code would show it as a hook error
    }
  }
  return last;
}

HookAnswer Session::refresh_statusline(const Json& status) {
  if (!settings_.statusline) return {};
  Json doc = status;
  doc["session_id"] = session_id_;
  doc["cwd"] = cwd_;
  return run_command(*settings_.statusline, dump_compact(doc), std::chrono::seconds(5));
}

}  // namespace kestrum::standin
