#include "cli/exec.hpp"

#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kestrum::launch {
namespace {

std::vector<char*> null_terminated(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

int replace_process(const std::filesystem::path& program, const std::vector<std::string>& words,
                    const std::vector<std::string>& environment) {
  std::vector<std::string> argv_strings;
  argv_strings.reserve(words.size() + 1);
  argv_strings.push_back(program.native());
  argv_strings.insert(argv_strings.end(), words.begin(), words.end());
  std::vector<std::string> env_strings = environment;
  const std::vector<char*> argv = null_terminated(argv_strings);
  const std::vector<char*> envp = null_terminated(env_strings);

  // An ignored SIGPIPE survives exec; Claude Code and the commands it runs expect the
  // default. Ignored again if the exec fails, so the failure line cannot kill us.
  std::signal(SIGPIPE, SIG_DFL);
  ::execve(argv[0], argv.data(), envp.data());
  const int error_number = errno;
  std::signal(SIGPIPE, SIG_IGN);
  return error_number;
}

}  // namespace kestrum::launch
