#include "hook/fallback.hpp"

#include <gtest/gtest.h>

#include "testing/process/files.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum {
namespace {

namespace fs = std::filesystem;

class FallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    paths_.emplace(*ProfilePaths::with_root(root_.path(), *Profile::create("kestrum")));
    fs::create_directories(paths_->profile_dir() / "remote");
  }
  void mark_remote(const std::string& session) {
    testkit::write_file(paths_->remote_marker(session), "");
  }

  testkit::TempDir root_;
  std::optional<ProfilePaths> paths_;
};

TEST_F(FallbackTest, NonBlockingEventsAreAlwaysLetThrough) {
  mark_remote("s1");
  EXPECT_EQ(app_unreachable(false, "s1", *paths_).status, 0u);
  EXPECT_FALSE(app_unreachable(false, std::nullopt, *paths_).err.has_value());
}

TEST_F(FallbackTest, LocalSessionsProceedAndRemoteOnesAreHeld) {
  const Outcome local = app_unreachable(true, "local", *paths_);
  EXPECT_EQ(local.status, 0u);
  EXPECT_FALSE(local.out || local.err);

  mark_remote("remote");
  const Outcome held = app_unreachable(true, "remote", *paths_);
  EXPECT_EQ(held.status, 2u);
  EXPECT_EQ(held.err, kOnHoldText);
  EXPECT_EQ(kOnHoldText.size(), 107u);
}

TEST_F(FallbackTest, UnknownMarkerAndMissingSessionAreHeld) {
  fs::create_directory(paths_->remote_marker("dir"));
  EXPECT_EQ(app_unreachable(true, "dir", *paths_).status, 2u);
  EXPECT_EQ(app_unreachable(true, std::nullopt, *paths_).status, 2u);
}

}  // namespace
}  // namespace kestrum
