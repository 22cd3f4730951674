// A stand-in for Claude Code, for the demo and the end-to-end tests: it reads the settings
// file given with --settings and plays one short session through the registered hooks and
// status line, printing what it was told at each step.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/standin_claude/session.hpp"

namespace kestrum::standin {
namespace {

void say(const std::string& line) {
  const std::string text = "claude ▸ " + line + "\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

std::string timing(const HookAnswer& a) {
  return " (" + std::to_string(a.elapsed_ms) + " ms)";
}

std::string first_line(const std::string& text) {
  const std::size_t end = text.find('\n');
  return text.substr(0, end);
}

const Json& specific(const Json& answer) {
  static const Json kNothing;
  const Json* s = object_member(answer, "hookSpecificOutput");
  return s ? *s : kNothing;
}

std::string blocked(const HookAnswer& a) {
  return "blocked (exit 2): " + first_line(a.err);
}

std::string tool_verdict(const HookAnswer& a) {
  if (!a.ran) return "no hook";
  if (a.status == 2) return blocked(a);
  const Json out = parse_json(a.out).value_or(Json());
  const std::string* decision = string_member(specific(out), "permissionDecision");
  if (!decision) return "no opinion (Claude Code's own rules apply)";
  const std::string* reason = string_member(specific(out), "permissionDecisionReason");
  return *decision + (reason ? ": " + *reason : "");
}

std::string permission_verdict(const HookAnswer& a) {
  if (!a.ran) return "no hook";
  const Json out = parse_json(a.out).value_or(Json());
  const Json* decision = object_member(specific(out), "decision");
  const std::string* behavior = decision ? string_member(*decision, "behavior") : nullptr;
  if (!behavior) return "no answer (Claude Code shows its own dialog)";
  const std::string* message = string_member(*decision, "message");
  return *behavior + (message ? ": " + *message : "");
}

std::string prompt_verdict(const HookAnswer& a) {
  const Json out = parse_json(a.out).value_or(Json());
  const std::string* context = string_member(specific(out), "additionalContext");
  return context ? "extra context: " + *context : "no extra context";
}

std::string notice(const HookAnswer& a) {
  if (!a.ran) return "no hook";
  return a.status == 2 ? blocked(a) : "noted";
}

Json tool_call(const std::string& name, Json input) {
  return {{"permission_mode", "default"},
          {"tool_input", std::move(input)},
          {"tool_name", name},
          {"tool_use_id", "toolu_standin"}};
}

void try_tool(Session& s, const std::string& name, const Json& input) {
  const HookAnswer a = s.fire("PreToolUse", tool_call(name, input), name);
  say("PreToolUse " + name + " " + dump_compact(input) + " → " + tool_verdict(a) + timing(a));
}

Json status_document(int refresh) {
  return {{"context_window",
           {{"context_window_size", 200000},
            {"total_input_tokens", 1200 * refresh},
            {"total_output_tokens", 40 * refresh},
            {"used_percentage", 12 * refresh}}},
          {"cost",
           {{"total_cost_usd", 0.0125 * refresh},
            {"total_lines_added", 4},
            {"total_lines_removed", 1}}},
          {"model", {{"display_name", "Stand-in"}, {"id", "claude-standin"}}},
          {"version", "0.0.0-standin"}};
}

int play(Session& s) {
  say("session " + s.session_id() + " in " + s.cwd());
  say("SessionStart → " + notice(s.fire("SessionStart", {{"source", "startup"}})));
  const std::string prompt = "Please tidy the build folder and publish the notes.";
  HookAnswer a = s.fire("UserPromptSubmit", {{"permission_mode", "default"}, {"prompt", prompt}});
  say("UserPromptSubmit \"" + prompt + "\" → " + prompt_verdict(a));

  try_tool(s, "Bash", {{"command", "ls"}, {"description", "List files"}});
  a = s.fire("PostToolUse", tool_call("Bash", {{"command", "ls"}, {"description", "List files"}}),
             "Bash");
  say("PostToolUse Bash → " + notice(a));
  try_tool(s, "Bash", {{"command", "rm -rf build"}, {"description", "Remove the build"}});
  try_tool(s, "Bash", {{"command", "git push"}, {"description", "Publish"}});

  const Json write = {{"content", "notes"}, {"file_path", s.cwd() + "/notes.txt"}};
  a = s.fire("PermissionRequest", tool_call("Write", write), "Write");
  say("PermissionRequest Write → " + permission_verdict(a) + timing(a));

  for (int refresh = 1; refresh <= 2; ++refresh) {
    a = s.refresh_statusline(status_document(refresh));
    say("status line " + std::to_string(refresh) + " → \"" + first_line(a.out) + "\"" + timing(a));
  }
  say("Stop → " + notice(s.fire("Stop", {{"stop_hook_active", false}})));
  say("SessionEnd → " + notice(s.fire("SessionEnd", {{"reason", "other"}})));
  if (!s.all_hooks_behaved()) {
    say("a hook failed, timed out or answered something that is not JSON");
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace kestrum::standin

int main(int argc, char** argv) {
  std::string settings_file;
  std::string words;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--settings" && i + 1 < argc) {
      settings_file = argv[++i];
    } else if (word.starts_with("--settings=")) {
      settings_file = word.substr(11);
    } else {
      words += (words.empty() ? "" : " ") + word;
    }
  }
  kestrum::standin::say("started as pid " + std::to_string(::getpid()) + " with words [" + words +
                        "]");
  if (settings_file.empty()) {
    kestrum::standin::say("no --settings given: no hooks registered");
    return 1;
  }
  auto settings = kestrum::standin::load_settings(settings_file);
  if (!settings) {
    kestrum::standin::say(settings.error());
    return 1;
  }
  try {
    kestrum::standin::Session session(std::move(*settings));
    return kestrum::standin::play(session);
  } catch (const std::exception& e) {
    kestrum::standin::say(std::string("failed: ") + e.what());
    return 1;
  }
}
