// The few system calls the status line needs that differ between Linux and macOS.
#pragma once

#include <spawn.h>
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

// Lets the spawned program start with descriptors 0 to 2 only, whatever else this process
// holds without close-on-exec. Added after the actions that set up 0 to 2.
bool keep_only_standard_descriptors(posix_spawn_file_actions_t& actions, short& flags);

}  // namespace kestrum::statusline
