// Deadlines on the monotonic clock, and every time limit of both programs. Each wait on the
// app, on Claude Code's reading or on the user's command is bounded by one of these; the
// hook's read of its event is bounded by Claude Code, which closes the pipe and stops a hook
// that outlasts its settings' timeout. The README's table of deadlines lists them.
#pragma once

#include <chrono>
#include <optional>

namespace kestrum {

using Clock = std::chrono::steady_clock;

// now + limit, saturated instead of overflowing.
Clock::time_point deadline_after(std::chrono::nanoseconds limit);

// Time left until the deadline; nothing once it is reached.
std::optional<Clock::duration> time_left(Clock::time_point deadline);

// --- the hook's events ------------------------------------------------------------------

// Connecting, greeting and one ordinary answer (Env::request_timeout). Every tool call
// waits for it, and the app answers in milliseconds: an app that has not answered by then
// is stuck, and Claude Code goes on by its own rules.
inline constexpr std::chrono::seconds kRequestLimit{2};

// An answer a person gives: the app gives a person ten minutes to decide, and 15 s more
// let an answer given at the last moment arrive before the hook stops waiting. Claude Code
// must be told a longer timeout than this for the hook's events (its default is 600 s).
inline constexpr std::chrono::seconds kUserDecisionLimit{615};

// The other instance that may own a launch answers at once or not at all, and every event
// pays this wait while it is gone.
inline constexpr std::chrono::milliseconds kProbeLimit{300};

// Claude Code reads a hook's answer as it comes; one that has taken no byte of it for this
// long is not reading any more, and the hook stops waiting for it.
inline constexpr std::chrono::seconds kStalledReaderLimit{10};

// --- the status line --------------------------------------------------------------------

// What one refresh may take: Claude Code refreshes every second and cancels a run still
// going when the next begins.
inline constexpr std::chrono::seconds kStatusLineWindow{1};

// The usage report, at most (less when Env::request_timeout is shorter): it is sent while
// the user's command runs, inside the window, and must leave the command most of it.
inline constexpr std::chrono::milliseconds kReportLimit{300};

// The supervisor's cap on the user's command, the default and the most it may be set to:
// a slow command still shows, from the cache at later refreshes, and a hung one cannot keep
// a supervisor for ever.
inline constexpr std::chrono::milliseconds kMaxUserCommandCap{10000};

// A lock file younger than this marks a supervisor at work: longer than the cap, so that a
// running supervisor's lock never looks stale, and short, so that a dead one's holds the
// command off for no longer.
inline constexpr std::chrono::seconds kLockFreshness{15};

// --- the launcher -----------------------------------------------------------------------

// The registration, once per launch with a person at the terminal: time for an app busy
// starting up to answer; a hung app costs this once, then Claude Code starts unregistered.
inline constexpr std::chrono::seconds kRegisterLimit{10};

}  // namespace kestrum
