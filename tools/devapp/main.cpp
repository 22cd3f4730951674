// kestrum-devapp: a development stand-in for the kestrum desktop app (see --help).
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "tools/devapp/app.hpp"
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

// "remote ID", "local ID" or "quit"; false once the app is to stop.
bool obey(kestrum::devapp::DevApp& app, const std::string& line) {
  if (line == "quit") return false;
  if (line.starts_with("remote ") && line.size() > 7) app.mark_remote(line.substr(7));
  if (line.starts_with("local ") && line.size() > 6) app.mark_local(line.substr(6));
  return true;
}

// Serves until the end of standard input, "quit", SIGINT or SIGTERM.
void serve(kestrum::devapp::DevApp& app) {
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
      if (!obey(app, line)) return;
    }
  }
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
    Log log(::isatty(STDOUT_FILENO) == 1, options->log_file);
    if (!log.ok()) return fail("cannot write the log " + options->log_file->string());

    install_signal_handlers();
    auto layout = Layout::create(options->home, options->profile);
    if (!layout) return fail(layout.error());
    DevApp app(
        *layout,
        {std::move(rules), options->hook_program, options->profile, options->user_statusline}, log);
    log.note("serving profile " + options->profile + " on " +
             layout->paths().socket_path().string());
    serve(app);
    log.note("stopping");
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  return 0;
}
