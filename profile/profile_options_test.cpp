#include "profile/profile_options.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace kestrum {
namespace {

using Words = std::vector<std::string>;

std::string selected(const Words& words) {
  const auto profile = select_profile(words);
  return profile ? profile->name() : "error:" + describe(profile.error());
}

TEST(SelectProfileTest, FollowsTheOptionRules) {
  EXPECT_EQ(selected({}), "kestrum");
  EXPECT_EQ(selected({"--profile", "work"}), "work");
  EXPECT_EQ(selected({"--profile", "a", "x", "--profile=b"}), "b");
  EXPECT_EQ(selected({"--profile=a", "--profile", "b"}), "b");
  // The value word is consumed, not read as an option.
  EXPECT_EQ(selected({"--profile", "--profile=x"}), "error:InvalidProfileName(\"--profile=x\")");
  EXPECT_EQ(selected({"--data-dir", "/x", "--verbose"}), "kestrum");
  EXPECT_EQ(selected({"--profiles=x"}), "kestrum");
}

TEST(SelectProfileTest, ReportsMissingAndInvalidNames) {
  EXPECT_EQ(selected({"--profile"}), "error:MissingProfileArg");
  EXPECT_EQ(selected({"--profile", "a", "--profile"}), "error:MissingProfileArg");
  EXPECT_EQ(selected({"--profile="}), "error:InvalidProfileName(\"\")");
  EXPECT_EQ(selected({"--profile", "Work"}), "error:InvalidProfileName(\"Work\")");
}

TEST(ChooseDataDirTest, HonoursDataDirOnlyInDevelopmentMode) {
  const std::filesystem::path home = "/Users/a";
  const Words words{"--data-dir", "/custom"};
  EXPECT_EQ(choose_data_dir(words, home, false), "/Users/a/Library/Application Support/kestrum");
  EXPECT_EQ(choose_data_dir(words, home, true), "/custom");
}

TEST(ChooseDataDirTest, LooksAtTheLastPairOnly) {
  const std::filesystem::path home = "/h";
  const std::filesystem::path dev_default = "/h/Library/Application Support/kestrum Dev";
  EXPECT_EQ(choose_data_dir({{"--data-dir", "/a", "--data-dir", "/b"}}, home, true), "/b");
  EXPECT_EQ(choose_data_dir({{"--data-dir", "/a", "--data-dir", "rel"}}, home, true), dev_default);
  EXPECT_EQ(choose_data_dir({{"--data-dir"}}, home, true), dev_default);
  EXPECT_EQ(choose_data_dir({{"x", "--data-dir"}}, home, true), dev_default);
}

}  // namespace
}  // namespace kestrum
