#include "common/fd_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace kestrum {
namespace {

// The first read's size where the caller made no room; later reads double what is there,
// so a large input costs a few copies and no zero-filling.
constexpr std::size_t kFirstChunk = 16 * 1024;

// O_NONBLOCK keeps a FIFO from blocking the open, O_NOCTTY keeps a terminal from becoming
// ours; reads of a regular file are not affected by either.
constexpr int kNamedFlags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
// At a planted name a symbolic link is refused too.
constexpr int kUntrustedFlags = kNamedFlags | O_NOFOLLOW;

struct RegularFile {
  UniqueFd fd;
  std::size_t size = 0;  // when it was opened
  uid_t owner = 0;
};

RegularFile open_regular(const std::filesystem::path& path, int flags) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | flags));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return {std::move(fd), static_cast<std::size_t>(st.st_size), st.st_uid};
}

std::optional<std::string> read_whole(const RegularFile& file, std::size_t limit,
                                      Oversize oversize) {
  if (!file.fd) return std::nullopt;
  std::string data;
  // Room for the file as it is and the look past its end, so that a small file takes no
  // more memory than it holds; one byte past the limit tells a file that fits from one
  // that does not.
  data.reserve(std::min(file.size, limit) + 1);
  if (!read_up_to(file.fd.get(), limit + 1, data)) return std::nullopt;
  if (data.size() > limit) {
    if (oversize == Oversize::Refuse) return std::nullopt;
    data.resize(limit);
  }
  return data;
}

}  // namespace

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

ssize_t read_some(int fd, std::size_t limit, std::string& out) {
  const std::size_t used = out.size();
  if (used >= limit) return 0;
  const std::size_t room = out.capacity() - used;
  const std::size_t want = std::min(limit - used, room > 0 ? room : std::max(kFirstChunk, used));
  for (;;) {
    ssize_t got = 0;
    out.resize_and_overwrite(used + want, [&](char* data, std::size_t) {
      got = ::read(fd, data + used, want);
      return used + (got > 0 ? static_cast<std::size_t>(got) : 0);
    });
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

bool read_up_to(int fd, std::size_t limit, std::string& out) {
  for (;;) {
    const ssize_t got = read_some(fd, limit, out);
    if (got < 0) return false;
    if (got == 0) return true;
  }
}

UniqueFd open_regular_for_writing(const std::filesystem::path& path, mode_t mode) {
  // No O_TRUNC: nothing may be truncated before the checks.
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | kUntrustedFlags, mode));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
    return UniqueFd();
  }
  // A file just created is already empty, and truncating it anyway is not free: some file
  // systems then write it out when it is closed.
  if (st.st_size != 0 && ::ftruncate(fd.get(), 0) != 0) return UniqueFd();
  if ((st.st_mode & 07777) != mode && ::fchmod(fd.get(), mode) != 0) return UniqueFd();
  return fd;
}

std::optional<std::string> read_regular_file(const std::filesystem::path& path, std::size_t limit,
                                             Oversize oversize) {
  return read_whole(open_regular(path, kUntrustedFlags), limit, oversize);
}

std::optional<std::string> read_regular_file_of(uid_t owner, const std::filesystem::path& path,
                                                std::size_t limit, Oversize oversize) {
  RegularFile file = open_regular(path, kUntrustedFlags);
  if (file.owner != owner) return std::nullopt;
  return read_whole(file, limit, oversize);
}

std::optional<std::string> read_named_file(const std::filesystem::path& path, std::size_t limit,
                                           Oversize oversize) {
  return read_whole(open_regular(path, kNamedFlags), limit, oversize);
}

}  // namespace kestrum
