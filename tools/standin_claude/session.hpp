// A short scripted Claude Code session: the events fire as Claude Code fires them, each
// registered command runs through /bin/sh -c with the event JSON on standard input.
#pragma once

#include <string>

#include "common/json.hpp"
#include "tools/standin_claude/settings.hpp"

namespace kestrum::standin {

struct HookAnswer {
  bool ran = false;  // false: no command registered, or it could not run
  int status = 0;
  std::string out, err;
  long elapsed_ms = 0;
};

class Session {
 public:
  explicit Session(Settings settings);

  // Runs every command registered for the event (filtered by tool name) and returns the
  // last answer; payload members common to all events are added here.
  HookAnswer fire(const std::string& event, Json payload, const std::string& tool_name = "");
  HookAnswer refresh_statusline(const Json& status);

  const std::string& session_id() const { return session_id_; }
  const std::string& cwd() const { return cwd_; }
  bool all_hooks_behaved() const { return behaved_; }

 private:
  HookAnswer run_command(const std::string& command, const std::string& input,
                         std::chrono::seconds timeout);

  Settings settings_;
  std::string session_id_, cwd_, prompt_id_;
  bool behaved_ = true;
};

}  // namespace kestrum::standin
