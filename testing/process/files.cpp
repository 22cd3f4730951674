#include "testing/process/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrum::testkit {

namespace fs = std::filesystem;

void write_file(const fs::path& path, const std::string& content) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << content;
}

std::string read_file(const fs::path& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void age_file(const fs::path& path, std::time_t seconds) {
  std::timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const std::timespec times[2] = {now, {now.tv_sec - seconds, now.tv_nsec}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("utimensat " + path.string());
}

unsigned mode_of(const fs::path& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

}  // namespace kestrum::testkit
