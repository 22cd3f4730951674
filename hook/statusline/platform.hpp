// The few system calls the status line needs that differ between Linux and macOS.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <optional>

#include "common/unique_fd.hpp"

namespace kestrum::statusline {

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

// Both ends close-on-exec, so only the descriptors a child is given reach it.
std::optional<Pipe> make_pipe();

// Last-modification time of an open file's status, as the platform stores it.
std::timespec modification_time(const struct stat& status);

// A descriptor that poll() reports readable once the child `pid` has exited, so its end is
// waited for together with its pipes; nothing where the system offers none, and the
// waiter then looks again at short intervals.
std::optional<UniqueFd> exit_notifier(pid_t pid);

// Starts `argv[0]` with the environment `envp`: standard input from `input_fd`, standard
// output to `output_fd`, standard error to the null device; in a process group of its own,
// with SIGPIPE at its default action, no signal blocked and only descriptors 0 to 2 open,
// as from a fresh shell. Nothing when it cannot be started, the program not found included.
// `input_fd` and `output_fd` must be above 2. Not for a process with signal handlers: on
// Linux one could run in the child before it starts the program.
std::optional<pid_t> start_child(char* const* argv, char* const* envp, int input_fd, int output_fd);

}  // namespace kestrum::statusline
