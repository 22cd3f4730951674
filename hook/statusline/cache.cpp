#include "hook/statusline/cache.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "hook/statusline/limits.hpp"
#include "hook/unique_fd.hpp"
#include "paths/utf8.hpp"

namespace kestrum::statusline {
namespace {

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The temporary name is predictable, so whatever already sits there is distrusted: a
// symbolic link is refused by O_NOFOLLOW, a FIFO by O_NONBLOCK, and a second hard link
// to some other file is refused before anything is truncated.
bool fill_temporary(const std::string& temp, std::string_view text) {
  UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK,
                     S_IRUSR | S_IWUSR));
  if (!fd) return false;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
    return false;
  }
  if (::ftruncate(fd.get(), 0) != 0 || ::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0) return false;
  if (!write_all(fd.get(), text)) return false;
  return ::close(fd.release()) == 0;
}

}  // namespace

std::optional<std::string> clean_output(std::string_view bytes) {
  std::string text = to_utf8_lossy(bytes);
  const std::size_t last = text.find_last_not_of("\r\n");
  if (last == std::string::npos) return std::nullopt;
  text.erase(last + 1);
  return text;
}

std::optional<std::string> read_cache(const std::filesystem::path& cache) {
  // O_NONBLOCK: a FIFO planted at the cache name must not hold the status line open.
  UniqueFd fd(::open(cache.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) return std::nullopt;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  std::string bytes(kMaxOutputBytes, '\0');
  std::size_t used = 0;
  while (used < bytes.size()) {
    const ssize_t n = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  bytes.resize(used);
  return clean_output(bytes);
}

bool write_cache(const std::filesystem::path& cache, std::string_view text) {
  std::string temp = cache.native();
  temp += '.';
  temp += std::to_string(::getpid());
  if (fill_temporary(temp, text) && std::rename(temp.c_str(), cache.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace kestrum::statusline
