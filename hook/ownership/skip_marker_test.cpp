#include "hook/ownership/skip_marker.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hook/ownership/ownership.hpp"
#include "testing/process/files.hpp"
#include "testing/process/other_user.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::ownership {
namespace {

namespace fs = std::filesystem;
using kestrum::testkit::mode_of;
using kestrum::testkit::read_file;
using kestrum::testkit::TempDir;
using kestrum::testkit::write_file;

constexpr std::string_view kSocket = "/d/run/work.sock";

TEST(RecordedPidTest, TakesTheNonNegativeIntegerPidForTheSameSocket) {
  EXPECT_EQ(recorded_pid(R"({"pid":4242,"socket":"/d/run/work.sock"})", kSocket), 4242u);
  EXPECT_EQ(recorded_pid(R"({"pid":1,"socket":"/d/run/work.sock"})", kSocket), 1u);
  EXPECT_EQ(recorded_pid(R"( {"socket":"/d/run/work.sock","pid":0,"x":[]} )", kSocket), 0u);
  EXPECT_EQ(recorded_pid(R"({"pid":18446744073709551615,"socket":"/d/run/work.sock"})", kSocket),
            18446744073709551615u);
}

TEST(RecordedPidTest, AnythingElseRecordsNothing) {
  for (const char* text : {
           R"({"pid":4242,"socket":"/d/run/home.sock"})",   // another socket
           R"({"pid":4242,"socket":"/d//run/work.sock"})",  // compared as text
           R"({"pid":4242})",
           R"({"socket":"/d/run/work.sock"})",
           R"({"pid":-3,"socket":"/d/run/work.sock"})",
           R"({"pid":42.0,"socket":"/d/run/work.sock"})",
           R"({"pid":"42","socket":"/d/run/work.sock"})",
           R"({"pid":42,"socket":["/d/run/work.sock"]})",
           R"([{"pid":42,"socket":"/d/run/work.sock"}])",
           R"({"pid":42,"socket":"/d/run/work.sock"} x)",
           "not json",
           "",
       }) {
    EXPECT_EQ(recorded_pid(text, kSocket), std::nullopt) << text;
  }
}

TEST(SkipMarkerTextTest, IsCompactWithPidBeforeSocket) {
  EXPECT_EQ(skip_marker_text(4242, kSocket), R"({"pid":4242,"socket":"/d/run/work.sock"})");
  EXPECT_EQ(skip_marker_text(7, "/a \"b\"/run/x.sock"),
            R"({"pid":7,"socket":"/a \"b\"/run/x.sock"})");
}

class SkipMarkerFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  fs::path marker_ = dir_.path() / "kestrum-skip-x.json";
};

TEST_F(SkipMarkerFileTest, WritesAPrivateMarkerThatReadsBack) {
  write_skip_marker(marker_, 4242, kSocket);
  EXPECT_EQ(read_file(marker_), R"({"pid":4242,"socket":"/d/run/work.sock"})");
  EXPECT_EQ(mode_of(marker_), 0600u);
  EXPECT_EQ(read_skip_marker(marker_, kSocket), 4242u);
}

TEST_F(SkipMarkerFileTest, OverwritesALongerMarkerWhole) {
  write_file(marker_, R"({"pid":123456789,"socket":"/a/much/longer/path/run/other.sock"})");
  write_skip_marker(marker_, 5, kSocket);
  EXPECT_EQ(read_file(marker_), R"({"pid":5,"socket":"/d/run/work.sock"})");
}

TEST_F(SkipMarkerFileTest, APlantedLinkNeitherTruncatesItsTargetNorIsRead) {
  const fs::path victim = dir_.path() / "victim";
  write_file(victim, R"({"pid":4242,"socket":"/d/run/work.sock"})");
  fs::create_symlink(victim, marker_);
  EXPECT_EQ(read_skip_marker(marker_, kSocket), std::nullopt);
  write_skip_marker(marker_, 99, kSocket);
  EXPECT_EQ(read_file(victim), R"({"pid":4242,"socket":"/d/run/work.sock"})");
  EXPECT_TRUE(fs::is_symlink(marker_));
}

TEST_F(SkipMarkerFileTest, AnotherUsersMarkerRecordsNothing) {
  if (!kestrum::testkit::can_act_as_other_user()) GTEST_SKIP() << "needs root to give a file away";
  write_skip_marker(marker_, 4242, kSocket);
  ASSERT_EQ(::chown(marker_.c_str(), kestrum::testkit::kOtherUser, kestrum::testkit::kOtherUser),
            0);
  EXPECT_EQ(read_skip_marker(marker_, kSocket), std::nullopt);
}

TEST_F(SkipMarkerFileTest, DirectoriesFifosAndMissingFilesRecordNothing) {
  const int fds_before = kestrum::testkit::count_open_fds();
  EXPECT_EQ(read_skip_marker(marker_, kSocket), std::nullopt);
  fs::create_directory(marker_);
  EXPECT_EQ(read_skip_marker(marker_, kSocket), std::nullopt);
  write_skip_marker(marker_, 4242, kSocket);
  EXPECT_TRUE(fs::is_directory(marker_));

  // Neither reading nor writing may wait for a FIFO's other end.
  const fs::path fifo = dir_.path() / "kestrum-skip-fifo.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(read_skip_marker(fifo, kSocket), std::nullopt);
  write_skip_marker(fifo, 4242, kSocket);
  EXPECT_EQ(kestrum::testkit::count_open_fds(), fds_before);
}

TEST_F(SkipMarkerFileTest, AnOversizedFileRecordsNothing) {
  std::string text = R"({"pid":4242,"socket":"/d/run/work.sock","pad":")";
  text.append(70 * 1024, 'x');
  text += "\"}";
  write_file(marker_, text);
  EXPECT_EQ(read_skip_marker(marker_, kSocket), std::nullopt);
}

TEST_F(SkipMarkerFileTest, RemovalIgnoresAMissingFile) {
  write_skip_marker(marker_, 4242, kSocket);
  remove_skip_marker(marker_);
  EXPECT_FALSE(fs::exists(marker_));
  remove_skip_marker(marker_);
}

}  // namespace
}  // namespace kestrum::ownership
