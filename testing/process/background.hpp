// A program kept running beside a test: its input is a pipe the test writes and closes,
// its output goes to files the test reads. Killed and reaped at the end of the scope.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "testing/process/process.hpp"

namespace kestrum::testkit {

class BackgroundProcess {
 public:
  BackgroundProcess(const std::filesystem::path& program, const RunOptions& options,
                    const std::filesystem::path& output_dir);
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  pid_t pid() const { return pid_; }
  void write_input(std::string_view text);
  void close_input();
  void send_signal(int signal);
  // The exit (status, signal), or nothing when it is still running after the timeout.
  std::optional<RunResult> wait(std::chrono::milliseconds timeout);
  bool running();
  std::string out() const;
  std::string err() const;

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  std::optional<RunResult> result_;
  std::filesystem::path out_file_, err_file_;
};

}  // namespace kestrum::testkit
