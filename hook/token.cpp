#include "hook/token.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "hook/unique_fd.hpp"
#include "paths/utf8.hpp"

namespace kestrum {

std::optional<std::string> read_small_file(const std::filesystem::path& path, std::size_t limit) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) return std::nullopt;
  std::string data;
  char buf[4096];
  while (data.size() < limit) {
    const ssize_t n = ::read(fd.get(), buf, std::min(sizeof buf, limit - data.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    data.append(buf, static_cast<std::size_t>(n));
  }
  return data;
}

std::optional<std::string> read_token(const std::filesystem::path& path) {
  auto text = read_small_file(path);
  if (!text || !is_valid_utf8(*text)) return std::nullopt;
  const std::string_view token = trim_unicode_whitespace(*text);
  if (token.empty()) return std::nullopt;
  return std::string(token);
}

}  // namespace kestrum
