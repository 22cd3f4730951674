// Child processes of the status line: started in a process group of their own, fed their
// input and read from one thread through poll(), and killed as a group on timeout.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/deadline.hpp"
#include "common/unique_fd.hpp"

namespace kestrum::statusline {

struct Command {
  std::string program;
  std::vector<std::string> args = {};  // after the program; the program is also argv[0]
  std::vector<std::pair<std::string, std::string>> env_changes = {};  // set over inherited ones
  // Left running when its handle is dropped, instead of being killed with its group.
  bool background = false;
};

// `text` run by /bin/sh, as Claude Code runs a status line command.
Command shell_command(std::string text);

// What becomes of a child still running when its output is no longer awaited.
enum class AtDeadline { Kill, LetRun };

// The child's standard input not yet written, and the non-blocking pipe it goes through.
struct InputFeed {
  UniqueFd fd;
  std::string bytes;
  std::size_t written = 0;

  // Writes what the pipe takes without waiting; the pipe is closed once everything is
  // written or the child has stopped reading.
  void write_some();
};

class ChildHandle {
 public:
  ChildHandle(pid_t pid, UniqueFd output, bool background)
      : pid_(pid), output_(std::move(output)), background_(background) {}
  ChildHandle(ChildHandle&& other) noexcept;
  ChildHandle& operator=(ChildHandle&&) = delete;
  ChildHandle(const ChildHandle&) = delete;
  ChildHandle& operator=(const ChildHandle&) = delete;
  // A child still running is killed with its group and reaped, unless it is a background
  // child or has been let go.
  ~ChildHandle();

  std::uint32_t pid() const { return static_cast<std::uint32_t>(pid_); }
  bool reaped() const { return status_.has_value(); }
  void record_exit(int status) { status_ = status; }
  // The read end of the child's standard output, handed to whoever reads it.
  UniqueFd take_output() { return std::move(output_); }
  InputFeed& input() { return input_; }
  // The child may outlive this handle.
  void let_go() { pid_ = 0; }

 private:
  friend void kill_process_group(ChildHandle& child);
  pid_t pid_;
  std::optional<int> status_;  // wait status once reaped
  UniqueFd output_;
  InputFeed input_;
  bool background_;
};

// Nothing when the command cannot be started. What the input pipe takes at once is
// written before this returns; the rest while the output is waited for.
std::optional<ChildHandle> spawn_with_input(const Command& command, std::string_view input);

// The child's cleaned output, or nothing when it did not exit with output by the deadline.
std::optional<std::string> wait_for_output(ChildHandle child, Clock::time_point deadline,
                                           AtDeadline at_deadline);

// SIGKILL to the child's whole group, then the child itself is reaped.
void kill_process_group(ChildHandle& child);

}  // namespace kestrum::statusline
