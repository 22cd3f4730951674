#include "profile/marker.hpp"

#include <sys/stat.h>

#include <cerrno>

namespace kestrum {

MarkerState read_marker(const std::filesystem::path& path) {
  const std::string& native = path.native();
  if (native.find('\0') != std::string::npos) return MarkerState::Unknown;
  struct stat st;
  if (::lstat(native.c_str(), &st) == 0) {
    return S_ISREG(st.st_mode) ? MarkerState::Present : MarkerState::Unknown;
  }
  return errno == ENOENT ? MarkerState::Absent : MarkerState::Unknown;
}

}  // namespace kestrum
