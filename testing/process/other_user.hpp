// Another user's side of a test: a socket or file that someone else made. Only root can act
// as another user; tests that need it are skipped otherwise.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>

#include "common/unique_fd.hpp"

namespace kestrum::testkit {

// "nobody": a user id that needs no account.
inline constexpr uid_t kOtherUser = 65534;

bool can_act_as_other_user();

// A descriptor that `open` made in a child running as `user` (its group the same number),
// handed back to this process. `open` returns the descriptor or -1; it runs between fork
// and exit of a threaded process, so it may make system calls only. Throws
// std::runtime_error when the child could not.
UniqueFd open_as_user(uid_t user, const std::function<int()>& open);

// Every folder from `top` down to `dir` searchable by everyone, and `dir` writable by
// everyone: what a careless chmod leaves.
void open_to_everyone(const std::filesystem::path& top, const std::filesystem::path& dir);

}  // namespace kestrum::testkit
