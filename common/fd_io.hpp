// Whole byte strings through descriptors, and files at paths that someone else may have
// planted: every reader and writer of such a path goes through here.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "common/unique_fd.hpp"

namespace kestrum {

// Every byte, through interrupted and partial writes; false once a write fails.
bool write_all(int fd, std::string_view bytes);

// Appends what the descriptor gives until its end, a read error or `limit` bytes in all;
// false on a read error (what came before it stays in `out`).
bool read_up_to(int fd, std::size_t limit, std::string& out);

// One read (an interrupted one is repeated) appended to `out`, which holds at most `limit`
// bytes in all: into the room already there, or past it doubling what came. The bytes read,
// 0 at the end (or with `out` full), -1 on a read error.
ssize_t read_some(int fd, std::size_t limit, std::string& out);

// Creates (with `mode`) or truncates a regular file, refusing anything else at the name,
// and a regular file with a second hard link: truncating that would change a file of the
// user's. The refusal comes before any byte is changed.
UniqueFd open_regular_for_writing(const std::filesystem::path& path, mode_t mode);

enum class Oversize { Truncate, Refuse };

// A regular file's first `limit` bytes, or (with Refuse) nothing when it holds more.
// Nothing when it is missing, no regular file or unreadable. Opened without trusting what
// sits at the name: a final symbolic link is not followed, and a FIFO or device neither
// blocks the open nor is accepted.
std::optional<std::string> read_regular_file(const std::filesystem::path& path, std::size_t limit,
                                             Oversize oversize);

// The same, and nothing when the file belongs to another user than `owner` (asked of the
// opened file, so that the name cannot be swapped in between).
std::optional<std::string> read_regular_file_of(uid_t owner, const std::filesystem::path& path,
                                                std::size_t limit, Oversize oversize);

// For a file the user or the app named (an option's value, the app's token): a symbolic
// link is followed, the rest is as above.
std::optional<std::string> read_named_file(const std::filesystem::path& path, std::size_t limit,
                                           Oversize oversize = Oversize::Refuse);

}  // namespace kestrum
