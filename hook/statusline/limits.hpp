// Bounds shared by the status line's two modes.
#pragma once

#include <chrono>
#include <cstddef>

namespace kestrum::statusline {

// What is kept of a child's output, and read of the cache file.
inline constexpr std::size_t kMaxOutputBytes = 65536;

// How long the status line process waits for the user's output.
inline constexpr std::chrono::seconds kWindow{1};

// Claude Code's status document holds a few dozen values. One past this many is read no
// further, so that building it cannot take the window or hundreds of megabytes; the refresh
// then goes on as for any document it cannot read.
inline constexpr std::size_t kMaxStatusValues = 64 * 1024;

// The supervisor's cap on the user's command: the default and the most it may be.
inline constexpr std::chrono::milliseconds kMaxCap{10000};

// A lock file younger than this marks a supervisor at work.
inline constexpr std::chrono::seconds kLockFreshness{15};

}  // namespace kestrum::statusline
