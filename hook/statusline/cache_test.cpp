#include "hook/statusline/cache.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "testing/process/files.hpp"
#include "testing/process/other_user.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::statusline {
namespace {

namespace fs = std::filesystem;
using kestrum::testkit::mode_of;
using kestrum::testkit::read_file;
using kestrum::testkit::TempDir;
using kestrum::testkit::write_file;

class CacheTest : public ::testing::Test {
 protected:
  fs::path temporary() const {
    return fs::path(cache_.string() + "." + std::to_string(::getpid()));
  }
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      found.push_back(entry.path().filename());
    }
    std::sort(found.begin(), found.end());
    return found;
  }
  TempDir dir_;
  fs::path cache_ = dir_.path() / "kestrum-status-x.out";
};

TEST(CleanOutputTest, ReplacesInvalidUtf8AndTrimsTrailingLineEnds) {
  EXPECT_EQ(clean_output("a\r\n\r\n"), "a");
  EXPECT_EQ(clean_output("a\n\rb\n"), "a\n\rb");
  EXPECT_EQ(clean_output("  a \t\n"), "  a \t");
  EXPECT_EQ(clean_output("\xff"
                         "a\xc3"),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD");
  EXPECT_EQ(clean_output("\n\r\n"), std::nullopt);
  EXPECT_EQ(clean_output(""), std::nullopt);
}

TEST_F(CacheTest, WritesAPrivateFileAndLeavesNoTemporary) {
  ASSERT_TRUE(write_cache(cache_, "hello"));
  EXPECT_EQ(read_file(cache_), "hello");
  EXPECT_EQ(mode_of(cache_), 0600u);
  ASSERT_TRUE(write_cache(cache_, "again"));
  EXPECT_EQ(read_file(cache_), "again");
  EXPECT_EQ(names(), std::vector<std::string>{"kestrum-status-x.out"});
}

TEST_F(CacheTest, TheFileIsReplacedOnlyWhenTheTextChanges) {
  const auto inode = [this] {
    struct stat status {};
    return ::stat(cache_.c_str(), &status) == 0 ? status.st_ino : 0;
  };
  ASSERT_TRUE(write_cache(cache_, "hello world"));
  const auto first = inode();
  ASSERT_TRUE(write_cache(cache_, "hello world"));
  EXPECT_EQ(inode(), first);
  // Its start, and more than it, are new texts.
  ASSERT_TRUE(write_cache(cache_, "hello"));
  EXPECT_EQ(read_file(cache_), "hello");
  ASSERT_TRUE(write_cache(cache_, "hello!"));
  EXPECT_EQ(read_file(cache_), "hello!");
}

TEST_F(CacheTest, AStaleTemporaryOfThisNameIsReplacedAndMadePrivate) {
  write_file(temporary(), "leftover that is longer");
  fs::permissions(temporary(), fs::perms::owner_read | fs::perms::owner_write |
                                   fs::perms::group_read | fs::perms::others_read);
  ASSERT_TRUE(write_cache(cache_, "new"));
  EXPECT_EQ(read_file(cache_), "new");
  EXPECT_EQ(mode_of(cache_), 0600u);
}

TEST_F(CacheTest, PlantedEntriesAtTheTemporaryNameAreRefusedNotFollowed) {
  const fs::path victim = dir_.path() / "victim";
  write_file(victim, "precious");
  write_file(cache_, "old");
  // A symbolic link, a second hard link and a FIFO: none may be written through.
  const std::function<void()> plant[] = {
      [&] { fs::create_symlink(victim, temporary()); },
      [&] { fs::create_hard_link(victim, temporary()); },
      [&] { ASSERT_EQ(::mkfifo(temporary().c_str(), 0600), 0); },
  };
  for (const auto& put : plant) {
    put();
    EXPECT_FALSE(write_cache(cache_, "new"));
    EXPECT_EQ(read_file(victim), "precious");
    EXPECT_EQ(read_file(cache_), "old");
    EXPECT_FALSE(fs::exists(fs::symlink_status(temporary())));
  }
}

TEST_F(CacheTest, AFailedRenameKeepsTheOldCacheAndRemovesTheTemporary) {
  fs::create_directory(cache_);
  write_file(cache_ / "inside", "x");
  EXPECT_FALSE(write_cache(cache_, "new"));
  EXPECT_FALSE(fs::exists(temporary()));
  EXPECT_TRUE(fs::is_directory(cache_));
  EXPECT_FALSE(write_cache(dir_.path() / "missing" / "c.out", "new"));
}

TEST_F(CacheTest, ReadsAtMostTheFirst65536BytesCleaned) {
  EXPECT_EQ(read_cache(cache_), std::nullopt);
  write_file(cache_, "shown\r\n");
  EXPECT_EQ(read_cache(cache_), "shown");
  write_file(cache_, std::string(65535, 'a') + "\n\n" + "tail");
  EXPECT_EQ(read_cache(cache_), std::string(65535, 'a'));
  write_file(cache_, "\n\n");
  EXPECT_EQ(read_cache(cache_), std::nullopt);
}

TEST_F(CacheTest, AnotherUsersCacheIsNeitherShownNorKept) {
  if (!kestrum::testkit::can_act_as_other_user()) GTEST_SKIP() << "needs root to give a file away";
  write_file(cache_, "\x1b]0;planted\x07");
  ASSERT_EQ(::chown(cache_.c_str(), kestrum::testkit::kOtherUser, kestrum::testkit::kOtherUser), 0);
  EXPECT_EQ(read_cache(cache_), std::nullopt);
  // The same text from the user's command replaces it with a file of the user's.
  ASSERT_TRUE(write_cache(cache_, "\x1b]0;planted\x07"));
  EXPECT_EQ(read_cache(cache_), "\x1b]0;planted\x07");
}

TEST_F(CacheTest, ReadingAFifoOrDirectoryGivesNothingAtOnce) {
  ASSERT_EQ(::mkfifo(cache_.c_str(), 0600), 0);
  EXPECT_EQ(read_cache(cache_), std::nullopt);
  fs::remove(cache_);
  fs::create_directory(cache_);
  EXPECT_EQ(read_cache(cache_), std::nullopt);
}

}  // namespace
}  // namespace kestrum::statusline
