// Runs a built program as a test would see it from outside: arguments, environment,
// standard input in, standard output, standard error and exit status out.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/exec_array.hpp"
#include "common/unique_fd.hpp"

namespace kestrum::testkit {

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or -1 when killed by a signal
  int signal = 0;   // the signal that ended it, if any
  std::chrono::milliseconds elapsed{0};
};

struct RunOptions {
  std::vector<std::string> args;  // after the program path
  std::string input;
  // The child's environment: only these variables (and the sanitizers' *SAN_OPTIONS of
  // this process), or these over this process's own.
  std::map<std::string, std::string> env;
  bool inherit_env = false;
  std::optional<std::filesystem::path> cwd;
  std::chrono::milliseconds timeout{30000};  // killed after this
  bool close_stdin = false;                  // start with descriptor 0 closed
  bool hold_stdin_open = false;              // never send end of input: a reader would wait forever
};

RunResult run_program(const std::filesystem::path& program, const RunOptions& options);

// "NAME=value" entries of the environment the options describe.
std::vector<std::string> environment_of(const RunOptions& options);

// The argument and environment arrays execve takes, built before forking.
struct ExecImage {
  ExecImage(const std::filesystem::path& program, const RunOptions& options);
  ExecImage(const ExecImage&) = delete;
  ExecImage& operator=(const ExecImage&) = delete;
  std::vector<std::string> words, entries;
  ExecArray argv, envp;  // point into the two above
};

// A pipe whose ends are both close-on-exec, so only what a child is given reaches it.
// Throws std::runtime_error when the system refuses one.
struct TestPipe {
  UniqueFd read;
  UniqueFd write;
};
TestPipe make_test_pipe();

// Gone, or a zombie nobody has reaped yet: either way it runs no more.
bool process_gone(pid_t pid);

// Open descriptors of this process.
int count_open_fds();

}  // namespace kestrum::testkit
