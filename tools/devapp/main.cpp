// kestrum-devapp: a development stand-in for the kestrum desktop app (see --help).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

#include "common/proc.hpp"

#include "tools/devapp/app.hpp"
#include "tools/devapp/hook_program.hpp"
#include "tools/devapp/options.hpp"

namespace {

int g_signal_pipe = -1;  // written by the handler
int g_signal_read = -1;  // watched by the serving loop

void on_signal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(g_signal_pipe, &byte, 1);
}

void install_signal_handlers() {
  int fds[2];
  if (::pipe(fds) != 0) return;
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  g_signal_read = fds[0];
  g_signal_pipe = fds[1];
  struct sigaction action {};
  action.sa_handler = on_signal;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

// The word after `command ` and the rest of the line, if the line starts with it.
std::optional<std::pair<std::string, std::string>> command_words(const std::string& line,
                                                                 std::string_view command) {
  if (!line.starts_with(command) || line.size() <= command.size() + 1 ||
      line[command.size()] != ' ') {
    return std::nullopt;
  }
  const std::string rest = line.substr(command.size() + 1);
  const auto space = rest.find(' ');
  if (space == std::string::npos) return std::pair{rest, std::string()};
  return std::pair{rest.substr(0, space), rest.substr(space + 1)};
}

void decide(kestrum::devapp::DevApp& app, kestrum::devapp::Log& log,
            kestrum::devapp::Decision decision, const std::string& perm_id,
            const std::string& reason) {
  const bool known =
      app.decide(perm_id, decision, reason.empty() ? std::nullopt : std::optional(reason));
  log.note(known ? perm_id + ": " + std::string(to_string(decision))
                 : "no call waits as " + perm_id + " (type holds)");
}

// A command typed at the app; false once the app is to stop.
bool obey(kestrum::devapp::DevApp& app, kestrum::devapp::Log& log, const std::string& line) {
  using kestrum::devapp::Decision;
  if (line == "quit") return false;
  if (line == "holds") {
    const auto pending = app.pending_holds();
    if (pending.empty()) log.note("no call waits for you");
    for (const std::string& hold : pending) log.note("waiting: " + hold);
  } else if (command_words(line, "remote")) {
    app.mark_remote(line.substr(7));
  } else if (command_words(line, "local")) {
    app.mark_local(line.substr(6));
  } else if (auto allow = command_words(line, "allow")) {
    decide(app, log, Decision::Allow, allow->first, "");
  } else if (auto deny = command_words(line, "deny")) {
    decide(app, log, Decision::Deny, deny->first, deny->second);
  } else if (!line.empty()) {
    log.note("unknown command: " + line + " (remote, local, holds, allow, deny, quit)");
  }
  return true;
}

// Serves until the end of standard input, "quit", SIGINT or SIGTERM.
void serve(kestrum::devapp::DevApp& app, kestrum::devapp::Log& log) {
  std::string pending;
  bool input_open = true;
  while (true) {
    pollfd fds[2] = {{input_open ? STDIN_FILENO : -1, POLLIN, 0}, {g_signal_read, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents & POLLIN) return;
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[4096];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    pending.append(buf, static_cast<std::size_t>(n));
    for (std::size_t feed; (feed = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, feed);
      pending.erase(0, feed + 1);
      if (!obey(app, log, line)) return;
    }
  }
}

kestrum::devapp::HookSearch hook_search(const kestrum::devapp::Options& options) {
  kestrum::devapp::HookSearch search;
  search.given = options.hook_program;
  search.build_tree_hook = KESTRUM_BUILD_TREE_HOOK;
  if (auto exe = kestrum::proc::current_exe()) {
    search.own_dir = std::filesystem::path(*exe).parent_path();
  }
  if (const char* path = std::getenv("PATH")) search.search_path = path;
  return search;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "kestrum-devapp: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrum::devapp;
  std::signal(SIGPIPE, SIG_IGN);
  try {
    const auto options = parse_options(argc, argv);
    if (!options) return fail(options.error());
    if (options->help) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    // Everything is checked before anything is created.
    Rules rules;
    if (options->rules_file) {
      auto loaded = load_rules(*options->rules_file);
      if (!loaded) return fail(loaded.error());
      rules = std::move(*loaded);
    }
    for (const std::string& id : options->remote_sessions) rules.remote_sessions.push_back(id);
    const auto hook = find_hook(hook_search(*options));
    if (!hook) return fail(hook.error());
    Log log(::isatty(STDOUT_FILENO) == 1, options->log_file, options->verbose);
    if (!log.ok()) return fail("cannot write the log " + options->log_file->string());

    install_signal_handlers();
    auto layout = Layout::create(options->home, options->profile);
    if (!layout) return fail(layout.error());
    log.keep_secret(layout->token());
    DevApp app(*layout, {std::move(rules), *hook, options->profile, options->user_statusline}, log);
    log.note("serving profile " + options->profile + " on " +
             layout->paths().socket_path().string() + ", hooks run " + hook->string());
    serve(app, log);
    log.note("stopping");
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  return 0;
}
