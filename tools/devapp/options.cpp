#include "tools/devapp/options.hpp"

#include <cstdlib>

#include "profile/profile.hpp"

namespace kestrum::devapp {

const char* const kUsage = R"(kestrum-devapp: a development stand-in for the kestrum desktop app.

It sets up the app's data directory for one profile under HOME, writes a fresh token,
listens on the profile's socket and answers the hook and the launcher as the app does,
printing one line per message it receives and per answer it gives, except greetings
(each later line names its caller instead) and usage reports whose figures did not
change. It stops at the end of its standard input, on Ctrl-C or on SIGTERM, and removes
its socket and token.

Usage: kestrum-devapp [options]

Options:
  --home DIR             the home directory whose data directory it serves (default: $HOME)
  --profile NAME         the profile to serve (default: kestrum)
  --rules FILE           decisions as JSON (see below); without it every answer is "no opinion"
  --hook PATH            the kestrum-hook that launches are pointed at (default: the one
                         beside this program, else the one its build made, else on PATH;
                         without one it refuses to start)
  --user-statusline CMD  the user's own status line command handed to launches
  --log FILE             also write every message and answer as JSON lines to FILE, each
                         with its time; every token in it is replaced by (redacted)
  --verbose              also show greetings and every usage report
  --remote SESSION       mark a session as remote (a colleague's request); repeatable
  --help                 this text

Standard input takes commands, one per line:
  remote SESSION         mark a session as remote
  local SESSION          unmark it
  holds                  list the calls waiting for a person
  allow PERM_ID          let a held call run
  deny PERM_ID [REASON]  block a held call; the model is told REASON
  quit                   stop

Rules file:
  {"rules": [
     {"tool": "Bash", "input_contains": "rm -rf", "decision": "deny", "reason": "Not here."},
     {"tool": "Bash", "input_contains": "git push", "decision": "hold"},
     {"tool": "Bash", "input_contains": "deploy", "decision": "hold", "then": "deny",
      "reason": "Not today.", "after_ms": 1500},
     {"tool": "Write", "event": "PermissionRequest", "decision": "allow"},
     {"tool": "*", "decision": "ask"}],
   "prompt_context": "Text added to every prompt.",
   "remote_sessions": ["SESSION"]}
  A tool call is decided by the first rule whose "tool" matches ("*": any), whose
  "input_contains", when given, occurs in the compact tool input, and whose "event", when
  given, is the call's: PreToolUse (the check before every call) or PermissionRequest
  (before Claude Code's permission dialog would open); no rule matches: no opinion.
  Each rule needs "tool" and "decision": allow, ask (leave it to Claude Code's dialog),
  deny or hold; "reason" goes with the decision (a deny's is what the model is told).
  "hold" shows the call with its perm id and waits for a person to type allow or deny;
  with "after_ms" it decides "then" (allow or deny, default allow) by itself after that
  many milliseconds. "prompt_context" is added to every prompt; "remote_sessions" are
  marked remote from the start.
)";

std::expected<Options, std::string> parse_options(int argc, char** argv) {
  Options options;
  if (const char* home = std::getenv("HOME")) options.home = home;
  bool home_given = !options.home.empty();
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--help" || word == "-h") {
      options.help = true;
      return options;
    }
    if (word == "--verbose") {
      options.verbose = true;
      continue;
    }
    const bool takes_value = word == "--home" || word == "--profile" || word == "--rules" ||
                             word == "--hook" || word == "--user-statusline" || word == "--log" ||
                             word == "--remote";
    if (!takes_value) return std::unexpected("unknown option " + word + " (see --help)");
    if (i + 1 == argc) return std::unexpected(word + " needs a value");
    const std::string value = argv[++i];
    if (word == "--home") {
      options.home = value;
      home_given = true;
    } else if (word == "--profile") {
      if (!Profile::create(value)) return std::unexpected("invalid profile name " + value);
      options.profile = value;
    } else if (word == "--rules") {
      options.rules_file = value;
    } else if (word == "--hook") {
      options.hook_program = value;
    } else if (word == "--user-statusline") {
      options.user_statusline = value;
    } else if (word == "--log") {
      options.log_file = value;
    } else {
      options.remote_sessions.push_back(value);
    }
  }
  if (!home_given) return std::unexpected("no home directory: set HOME or give --home");
  return options;
}

}  // namespace kestrum::devapp
