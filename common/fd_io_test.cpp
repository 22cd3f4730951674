#include "common/fd_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "testing/process/files.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum {
namespace {

namespace fs = std::filesystem;
using testkit::mode_of;
using testkit::read_file;
using testkit::TempDir;
using testkit::write_file;

class FdIoTest : public ::testing::Test {
 protected:
  fs::path at(const char* name) const { return dir_.path() / name; }
  TempDir dir_;
};

// Neither a reader nor a writer may wait for a peer on a FIFO someone put at the name.
TEST_F(FdIoTest, AFifoIsRefusedWithoutBlocking) {
  ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
  EXPECT_EQ(read_regular_file(at("fifo"), 64, Oversize::Truncate), std::nullopt);
  EXPECT_EQ(read_named_file(at("fifo"), 64), std::nullopt);
  EXPECT_FALSE(open_regular_for_writing(at("fifo"), 0600));
}

TEST_F(FdIoTest, LinksAreFollowedOnlyForNamedFiles) {
  write_file(at("target"), "text");
  fs::create_symlink(at("target"), at("link"));
  EXPECT_EQ(read_regular_file(at("link"), 64, Oversize::Truncate), std::nullopt);
  EXPECT_EQ(read_named_file(at("link"), 64), "text");
  EXPECT_FALSE(open_regular_for_writing(at("link"), 0600));
  EXPECT_EQ(read_file(at("target")), "text");
}

TEST_F(FdIoTest, AHardLinkedFileIsRefusedBeforeAnyByteChanges) {
  write_file(at("victim"), "the user's");
  fs::create_hard_link(at("victim"), at("planted"));
  EXPECT_FALSE(open_regular_for_writing(at("planted"), 0600));
  EXPECT_EQ(read_file(at("victim")), "the user's");
}

TEST_F(FdIoTest, WritingTruncatesAnOwnFileAndSetsItsMode) {
  write_file(at("own"), "old and long");
  ::chmod(at("own").c_str(), 0644);
  {
    const UniqueFd fd = open_regular_for_writing(at("own"), 0600);
    ASSERT_TRUE(fd);
    ASSERT_TRUE(write_all(fd.get(), "new"));
  }
  EXPECT_EQ(read_file(at("own")), "new");
  EXPECT_EQ(mode_of(at("own")), 0600u);
}

TEST_F(FdIoTest, TheLimitIsExactForBothOversizeChoices) {
  write_file(at("four"), "1234");
  EXPECT_EQ(read_regular_file(at("four"), 4, Oversize::Refuse), "1234");
  EXPECT_EQ(read_regular_file(at("four"), 3, Oversize::Refuse), std::nullopt);
  EXPECT_EQ(read_regular_file(at("four"), 3, Oversize::Truncate), "123");
  EXPECT_EQ(read_named_file(at("four"), 3, Oversize::Truncate), "123");
  EXPECT_EQ(read_regular_file(at("missing"), 3, Oversize::Truncate), std::nullopt);
}

}  // namespace
}  // namespace kestrum
