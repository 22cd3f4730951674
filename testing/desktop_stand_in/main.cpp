// A stand-in for the desktop app process in launch-ownership tests. Installed under the file
// name "kestrum-desktop", it is the ancestor a hook looks for; it may also serve another
// instance's socket itself, so that the socket's peer is that very ancestor.
//
//   kestrum-desktop [--serve SOCKET (--answer JSON | --stall)] [--record FILE]
//                   [--pid-file FILE] -- PROGRAM [WORDS...]
//
// It listens on SOCKET (if given), starts PROGRAM with the standard descriptors it was given,
// answers "hello" and "launch_owned" (with JSON as the result) until PROGRAM ends, and exits
// with PROGRAM's status. Each line received is appended to FILE as it arrives. With --stall
// it reads and records but never answers.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/exec_array.hpp"
#include "common/fd_io.hpp"
#include "common/json.hpp"
#include "testing/app_double/fake_app.hpp"

extern char** environ;

namespace {

using kestrum::Json;
using kestrum::testkit::FakeApp;
using kestrum::testkit::Reply;

struct Options {
  std::string socket;
  std::optional<Json> answer;  // nothing: stall
  std::string record;
  std::string pid_file;
  std::vector<std::string> program;
};

[[noreturn]] void fail(std::string_view what) {
  kestrum::write_all(STDERR_FILENO, "kestrum-desktop stand-in: " + std::string(what) + "\n");
  ::_exit(125);
}

Options parse_options(int argc, char** argv) {
  Options options;
  int i = 1;
  for (; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    const std::string_view word = argv[i];
    if (word == "--stall") continue;
    if (i + 1 >= argc) fail("missing value");
    const char* value = argv[++i];
    if (word == "--serve") {
      options.socket = value;
    } else if (word == "--answer") {
      options.answer = kestrum::parse_json(value);
      if (!options.answer) fail("--answer is not JSON");
    } else if (word == "--record") {
      options.record = value;
    } else if (word == "--pid-file") {
      options.pid_file = value;
    } else {
      fail("unknown option");
    }
  }
  for (++i; i < argc; ++i) options.program.emplace_back(argv[i]);
  if (options.program.empty()) fail("no program");
  return options;
}

void write_file(const std::string& path, std::string_view bytes, int mode_flag) {
  if (path.empty()) return;
  const kestrum::UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | mode_flag, 0600));
  if (!fd) fail("cannot write a file");
  kestrum::write_all(fd.get(), bytes);
}

void serve(FakeApp& app, const Options& options) {
  if (!options.record.empty()) {
    app.observe([path = options.record](const kestrum::testkit::Received& received) {
      write_file(path, received.line + "\n", O_APPEND);
    });
  }
  if (options.answer) {
    app.on("launch_owned", Reply::result(*options.answer));
  } else {
    app.on("hello", Reply::silence());
    app.on("launch_owned", Reply::silence());
  }
}

int run_program(const Options& options) {
  kestrum::ExecArray argv;
  argv.add_all(options.program);
  pid_t pid = 0;
  if (::posix_spawn(&pid, options.program[0].c_str(), nullptr, nullptr, argv.get(), environ) != 0) {
    return 127;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const Options options = parse_options(argc, argv);
  write_file(options.pid_file, std::to_string(::getpid()), O_TRUNC);
  std::optional<FakeApp> app;
  try {
    if (!options.socket.empty()) {
      app.emplace(options.socket);
      serve(*app, options);
    }
    const int status = run_program(options);
    app.reset();  // stops serving and removes the socket
    return status;
  } catch (...) {
    fail("cannot serve the socket");
  }
}
