#include "hook/statusline/lock.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include "testing/process/files.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::statusline {
namespace {

namespace fs = std::filesystem;
using kestrum::testkit::age_file;
using kestrum::testkit::mode_of;
using kestrum::testkit::read_file;
using kestrum::testkit::TempDir;
using kestrum::testkit::write_file;

std::string own_pid() {
  return std::to_string(::getpid());
}

std::string after(std::string prefix) {
  return prefix += own_pid();
}

TEST(LockFreshnessTest, CountsWholeSecondsBelowFifteen) {
  EXPECT_TRUE(is_fresh({100, 0}, {100, 0}));
  EXPECT_TRUE(is_fresh({100, 500}, {114, 999999999}));
  EXPECT_TRUE(is_fresh({100, 600}, {115, 500}));  // 14.99... s
  EXPECT_FALSE(is_fresh({100, 500}, {115, 500}));
  EXPECT_FALSE(is_fresh({100, 0}, {1000, 0}));
}

TEST(LockFreshnessTest, FutureTimesAreStale) {
  EXPECT_FALSE(is_fresh({100, 1}, {100, 0}));
  EXPECT_FALSE(is_fresh({200, 0}, {100, 0}));
}

TEST(LockFreshnessTest, JudgesRealFilesByTheirModificationTime) {
  TempDir dir;
  const fs::path lock = dir.path() / "a.lock";
  EXPECT_FALSE(lock_is_fresh(lock));
  write_file(lock, "1");
  EXPECT_TRUE(lock_is_fresh(lock));
  age_file(lock, 14);
  EXPECT_TRUE(lock_is_fresh(lock));
  age_file(lock, 16);
  EXPECT_FALSE(lock_is_fresh(lock));
  age_file(lock, -60);
  EXPECT_FALSE(lock_is_fresh(lock));
}

TEST(LockReleaseTest, RemovesOnlyAFileHoldingExactlyThisProcessId) {
  TempDir dir;
  const fs::path lock = dir.path() / "a.lock";
  const std::pair<std::string, bool> cases[] = {
      {own_pid(), true},   {own_pid() + "\n", false},
      {after(" "), false}, {after("0"), false},
      {"1", false},        {"", false},
  };
  for (const auto& [content, removed] : cases) {
    write_file(lock, content);
    Lock(lock).release();
    EXPECT_EQ(!fs::exists(lock), removed) << '"' << content << '"';
  }
  fs::remove(lock);
  Lock missing(lock);  // releasing a vanished file is harmless
}

TEST(LockReleaseTest, MovedLockReleasesOnce) {
  TempDir dir;
  const fs::path lock = dir.path() / "a.lock";
  write_file(lock, own_pid());
  {
    Lock first(lock);
    Lock second(std::move(first));
    first.release();
    EXPECT_TRUE(fs::exists(lock));
  }
  EXPECT_FALSE(fs::exists(lock));
}

TEST(AcquireLockTest, CreatesAPrivateFileWithTheProcessId) {
  TempDir dir;
  const fs::path lock = dir.path() / "a.lock";
  {
    auto acquired = acquire_lock(lock);
    ASSERT_TRUE(acquired.has_value());
    ASSERT_TRUE(acquired->has_value());
    EXPECT_EQ(read_file(lock), own_pid());
    EXPECT_EQ(mode_of(lock), 0600u);
  }
  EXPECT_FALSE(fs::exists(lock));
}

TEST(AcquireLockTest, AFreshForeignLockIsBusyAndLeftAlone) {
  TempDir dir;
  const fs::path lock = dir.path() / "a.lock";
  write_file(lock, "999999");
  EXPECT_FALSE(acquire_lock(lock).has_value());
  EXPECT_EQ(read_file(lock), "999999");
}

TEST(AcquireLockTest, AStaleLockIsTakenOver) {
  TempDir dir;
  const fs::path lock = dir.path() / "a.lock";
  write_file(lock, "999999");
  age_file(lock, 20);
  {
    auto acquired = acquire_lock(lock);
    ASSERT_TRUE(acquired.has_value() && acquired->has_value());
    EXPECT_EQ(read_file(lock), own_pid());
  }
  EXPECT_FALSE(fs::exists(lock));
}

TEST(AcquireLockTest, OtherCreationErrorsRunUnlocked) {
  TempDir dir;
  auto acquired = acquire_lock(dir.path() / "missing-dir" / "a.lock");
  ASSERT_TRUE(acquired.has_value());
  EXPECT_FALSE(acquired->has_value());
}

TEST(AcquireLockTest, ASymlinkAtTheLockNameIsNotFollowed) {
  TempDir dir;
  const fs::path victim = dir.path() / "victim";
  write_file(victim, "keep");
  fs::create_symlink(victim, dir.path() / "a.lock");
  // The link counts as an existing fresh lock; the file it names is untouched.
  EXPECT_FALSE(acquire_lock(dir.path() / "a.lock").has_value());
  EXPECT_EQ(read_file(victim), "keep");
}

}  // namespace
}  // namespace kestrum::statusline
