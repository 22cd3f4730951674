// The user this program runs as: the only one whose app and files it trusts. A socket or a
// file of another user (a folder someone left writable, a home restored from a backup)
// counts as no app, or no file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "common/fd_io.hpp"

namespace kestrum {

// The effective user id, what the kernel checks this program's file access against.
uid_t own_uid();

// Whether the process that listens at the other end of a connected local socket runs as
// own_uid(): the kernel records who listened, so nobody can pose as someone else. One
// system call.
//
// Only the same user, also for a program run as root: the app runs as the user, never as
// root, and a root program that took another user's answers would lend that user root's
// reach. A root peer is not taken by an ordinary user either: root can act as the user
// without any socket, so refusing it costs nothing real, and one rule is easier to trust.
bool peer_is_own_user(int socket);

// As read_regular_file, and nothing when the file belongs to another user (asked of the
// opened file, so the name cannot be swapped in between).
std::optional<std::string> read_own_file(const std::filesystem::path& path, std::size_t limit,
                                         Oversize oversize);

}  // namespace kestrum
