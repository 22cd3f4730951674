#include <unistd.h>

#include "common/path_text.hpp"
#include "common/proc.hpp"
#include "common/utf8.hpp"

namespace kestrum::proc {

std::optional<std::string> exe_name_of(std::string_view path) {
  // A trailing "/" or "/." does not hide the last component.
  path = without_trailing_separators(path);
  const std::size_t slash = path.rfind('/');
  const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
  if (last.empty() || last == "." || last == "..") return std::nullopt;
  return to_utf8_lossy(last);
}

}  // namespace kestrum::proc

namespace kestrum {

std::optional<std::uint32_t> desktop_pid() {
  auto pid = static_cast<std::uint32_t>(::getppid());
  for (int examined = 0; examined < proc::kMaxAncestors; ++examined) {
    if (pid <= 1) return std::nullopt;
    const auto process = proc::info(pid);
    if (!process) return std::nullopt;
    if (process->exe_name == proc::kDesktopExeName) return pid;
    pid = process->ppid;
  }
  return std::nullopt;
}

}  // namespace kestrum
