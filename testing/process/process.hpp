// Runs a built program as a test would see it from outside: arguments, environment,
// standard input in, standard output, standard error and exit status out.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrum::testing {

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
  // The child's environment: only these variables, or these over this process's own.
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

// A temporary directory removed with everything in it at the end of the scope.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A HOME with the app's data directory laid out for a profile, as the app sets it up.
struct AppLayout {
  explicit AppLayout(const std::filesystem::path& home, const std::string& profile = "kestrum");
  std::filesystem::path home, data, run_dir, profile_dir, socket, token;
  void write_token(const std::string& text) const;
  // The remote marker of a session (file name: SHA-256 of the id).
  std::filesystem::path remote_marker(const std::string& session_id) const;
};

// Open descriptors of this process.
int count_open_fds();

void write_file(const std::filesystem::path& path, const std::string& content);
std::string read_file(const std::filesystem::path& path);

}  // namespace kestrum::testing
