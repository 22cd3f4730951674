// Sizes the status line's two modes hold to; its times are in common/deadline.hpp.
#pragma once

#include <cstddef>

namespace kestrum::statusline {

// What is kept of a child's output, and read of the cache file.
inline constexpr std::size_t kMaxOutputBytes = 65536;

// Claude Code's status document holds a few dozen values. One past this many is read no
// further, so that building it cannot take the window or hundreds of megabytes; the refresh
// then goes on as for any document it cannot read.
inline constexpr std::size_t kMaxStatusValues = 64 * 1024;

}  // namespace kestrum::statusline
