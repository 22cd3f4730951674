// Which process sits above this one, or at the other end of a local socket.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrum::proc {

// The desktop app's executable name, matched exactly.
inline constexpr std::string_view kDesktopExeName = "kestrum-desktop";
inline constexpr int kMaxAncestors = 32;

struct ProcInfo {
  std::uint32_t ppid;
  std::string exe_name;  // last component of the executable path, invalid UTF-8 replaced
};

std::optional<ProcInfo> info(std::uint32_t pid);

// The process that connected or accepted at the other end of a connected local socket.
std::optional<std::uint32_t> peer_pid(int socket_fd);

// The last normal component of an executable path; nothing for "/" or a path ending in "..".
std::optional<std::string> exe_name_of(std::string_view path);

}  // namespace kestrum::proc

namespace kestrum {

// The nearest ancestor (starting at the parent) that is the desktop app, asked anew each call.
std::optional<std::uint32_t> desktop_pid();

}  // namespace kestrum

namespace kestrum::proc {

// The absolute path of the running executable, links resolved where the system reports
// it otherwise.
std::optional<std::string> current_exe();

}  // namespace kestrum::proc
