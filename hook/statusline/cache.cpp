#include "hook/statusline/cache.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "common/fd_io.hpp"
#include "common/own_user.hpp"
#include "common/utf8.hpp"
#include "hook/statusline/limits.hpp"

namespace kestrum::statusline {
namespace {

// The temporary name is predictable, so whatever already sits there is distrusted.
bool fill_temporary(const std::string& temp, std::string_view text) {
  UniqueFd fd = open_regular_for_writing(temp, S_IRUSR | S_IWUSR);
  if (!fd || !write_all(fd.get(), text)) return false;
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

// Another user's file at the cache's name is no cache: its text, terminal escapes and all,
// would be shown as the user's status line.
std::optional<std::string> read_cache(const std::filesystem::path& cache) {
  const auto bytes = read_own_file(cache, kMaxOutputBytes, Oversize::Truncate);
  if (!bytes) return std::nullopt;
  return clean_output(*bytes);
}

bool write_cache(const std::filesystem::path& cache, std::string_view text) {
  // Most refreshes print what the last one did. Replacing the file anyway would make the
  // file system write the new one out on every refresh.
  if (read_own_file(cache, text.size(), Oversize::Refuse) == text) return true;
  std::string temp = cache.native();
  temp += '.';
  temp += std::to_string(::getpid());
  if (fill_temporary(temp, text) && std::rename(temp.c_str(), cache.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace kestrum::statusline
