// The per-session lock that lets one supervisor at a time run the user's command.
#pragma once

#include <ctime>
#include <expected>
#include <filesystem>
#include <optional>

namespace kestrum::statusline {

// Ownership of a lock file this process created. Releasing removes the file only while
// it still holds this process's id: a supervisor that took it over keeps it.
class Lock {
 public:
  explicit Lock(std::filesystem::path path) : path_(std::move(path)) {}
  Lock(Lock&& other) noexcept;
  Lock& operator=(Lock&& other) noexcept;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  ~Lock() { release(); }

  void release() noexcept;

 private:
  std::optional<std::filesystem::path> path_;
};

// Another supervisor holds a fresh lock: this one must not run the command.
struct LockBusy {};

// The held lock, or nothing when the lock file cannot be made for another reason than
// its existence (the run then goes unlocked).
std::expected<std::optional<Lock>, LockBusy> acquire_lock(const std::filesystem::path& path);

// Modified less than 15 whole seconds ago; a future or unreadable time is stale.
bool lock_is_fresh(const std::filesystem::path& path);
bool is_fresh(std::timespec modified, std::timespec now);

}  // namespace kestrum::statusline
