// Records how it was started, in files any system can write, and exits 42: the tests'
// stand-in for a program another of ours starts (claude for the launcher, the user's
// command for the status line). A one-line script execs it, so the process id, parent,
// group, descriptors and signal dispositions stay the script's.
//
//   kestrum_start_reporter RECORD_DIR ARGV0 [WORDS...]
//
// RECORD_DIR gets: args (ARGV0 and WORDS, NUL-separated), env (the environment,
// NUL-separated), fds (open descriptors), sigign and sigblock (ignored and blocked
// signals) and, last, pid
// ("pid ppid pgid").
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

extern char** environ;

namespace {

void record(const std::filesystem::path& dir, const char* name, const std::string& text) {
  std::ofstream(dir / name, std::ios::binary) << text;
}

std::string open_descriptors() {
  std::string list;
  for (int fd = 0; fd < 1024; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) list += std::to_string(fd) + " ";
  }
  return list;
}

std::string ignored_signals() {
  std::string list;
  for (int sig = 1; sig < NSIG; ++sig) {
    struct sigaction action {};
    if (::sigaction(sig, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
      list += std::to_string(sig) + " ";
    }
  }
  return list;
}

std::string blocked_signals() {
  sigset_t mask;
  sigemptyset(&mask);
  ::sigprocmask(SIG_BLOCK, nullptr, &mask);
  std::string list;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sigismember(&mask, sig) == 1) list += std::to_string(sig) + " ";
  }
  return list;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const std::filesystem::path dir = argv[1];
  // Descriptors first: the files written below must not count.
  const std::string fds = open_descriptors();
  std::string args;
  for (int i = 2; i < argc; ++i) (args += argv[i]) += '\0';
  std::string env;
  for (char** entry = environ; *entry != nullptr; ++entry) (env += *entry) += '\0';
  record(dir, "args", args);
  record(dir, "env", env);
  record(dir, "fds", fds);
  record(dir, "sigign", ignored_signals());
  record(dir, "sigblock", blocked_signals());
  // Last, since the tests take its presence as "claude started".
  record(dir, "pid",
         std::to_string(::getpid()) + " " + std::to_string(::getppid()) + " " +
             std::to_string(::getpgrp()) + "\n");
  return 42;
}
