// The few system calls the status line needs that differ between Linux and macOS.
#pragma once

#include <sys/stat.h>

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

}  // namespace kestrum::statusline
