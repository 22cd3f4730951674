#include "hook/statusline/lock.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/deadline.hpp"
#include "common/fd_io.hpp"
#include "common/unique_fd.hpp"
#include "hook/statusline/platform.hpp"

namespace kestrum::statusline {
namespace {

constexpr std::size_t kLockReadLimit = 64;

std::string own_pid_text() {
  return std::to_string(::getpid());
}

enum class Creation { Created, Exists, Failed };

Creation create_lock_file(const std::filesystem::path& path) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                     S_IRUSR | S_IWUSR));
  if (!fd) return errno == EEXIST ? Creation::Exists : Creation::Failed;
  // Exactly 0600 whatever the umask.
  ::fchmod(fd.get(), S_IRUSR | S_IWUSR);
  // A lock without our id could never be released by us, and would hold every refresh off
  // until it went stale (a full disk, a file-size limit): it goes at once, and the run goes
  // unlocked, as after any other failure to make the lock.
  if (!write_all(fd.get(), own_pid_text())) {
    ::unlink(path.c_str());
    return Creation::Failed;
  }
  return Creation::Created;
}

}  // namespace

Lock::Lock(Lock&& other) noexcept : path_(std::move(other.path_)) {
  other.path_.reset();
}

Lock& Lock::operator=(Lock&& other) noexcept {
  if (this != &other) {
    release();
    path_ = std::move(other.path_);
    other.path_.reset();
  }
  return *this;
}

void Lock::release() noexcept {
  if (!path_) return;
  // Read like any planted name: a FIFO swapped in for the lock must not hold us here.
  const auto content = read_regular_file(*path_, kLockReadLimit, Oversize::Truncate);
  if (content && *content == own_pid_text()) ::unlink(path_->c_str());
  path_.reset();
}

std::expected<std::optional<Lock>, LockBusy> acquire_lock(const std::filesystem::path& path) {
  switch (create_lock_file(path)) {
    case Creation::Created:
      return Lock(path);
    case Creation::Failed:
      return std::nullopt;
    case Creation::Exists:
      break;
  }
  if (lock_is_fresh(path)) return std::unexpected(LockBusy{});
  // Left by a supervisor that died: take it over, once.
  ::unlink(path.c_str());
  switch (create_lock_file(path)) {
    case Creation::Created:
      return Lock(path);
    case Creation::Failed:
      return std::nullopt;
    case Creation::Exists:
      break;
  }
  if (!lock_is_fresh(path)) ::unlink(path.c_str());
  return std::unexpected(LockBusy{});
}

bool is_fresh(std::timespec modified, std::timespec now) {
  if (now.tv_sec < modified.tv_sec ||
      (now.tv_sec == modified.tv_sec && now.tv_nsec < modified.tv_nsec)) {
    return false;
  }
  // Whole seconds elapsed: borrow one when the nanoseconds have not caught up.
  std::time_t elapsed = now.tv_sec - modified.tv_sec;
  if (now.tv_nsec < modified.tv_nsec) --elapsed;
  return elapsed < kLockFreshness.count();
}

bool lock_is_fresh(const std::filesystem::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return false;
  std::timespec now{};
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  return is_fresh(modification_time(status), now);
}

}  // namespace kestrum::statusline
