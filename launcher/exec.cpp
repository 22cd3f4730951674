#include "launcher/exec.hpp"

#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "common/exec_array.hpp"

namespace kestrum::launcher {

int replace_process(const std::filesystem::path& program, const std::vector<std::string>& words,
                    const std::vector<std::string>& environment) {
  ExecArray argv;
  argv.add(program.native()).add_all(words);
  ExecArray envp;
  envp.add_all(environment);

  // An ignored SIGPIPE survives exec; Claude Code and the commands it runs expect the
  // default. Ignored again if the exec fails, so the failure line cannot kill us.
  std::signal(SIGPIPE, SIG_DFL);
  ::execve(program.c_str(), argv.get(), envp.get());
  const int error_number = errno;
  if (error_number == ENOEXEC) {
    // As execvp runs it: a file of commands without a "#!" line is the shell's, told the
    // path found (no second search).
    const std::string shell = "/bin/sh";
    ExecArray shell_argv;
    shell_argv.add(shell).add(program.native()).add_all(words);
    ::execve(shell.c_str(), shell_argv.get(), envp.get());
  }
  std::signal(SIGPIPE, SIG_IGN);
  return error_number;
}

}  // namespace kestrum::launcher
