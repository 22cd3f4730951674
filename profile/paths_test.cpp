#include <gtest/gtest.h>

#include "profile/profile_paths.hpp"

namespace kestrum {
namespace {

namespace fs = std::filesystem;

Profile profile(std::string_view name) {
  return *Profile::create(name);
}

TEST(ProfileTest, AcceptsOnlyShortLowercaseNames) {
  for (std::string_view name : {"kestrum", "a", "-", "work-2", "abcdefghijkl"}) {
    EXPECT_TRUE(Profile::create(name).has_value()) << name;
  }
  for (std::string_view name :
       {"", "abcdefghijklm", "Work", "my_profile", "a.b", "a/b", "a b", "caf\xC3\xA9"}) {
    const auto result = Profile::create(name);
    ASSERT_FALSE(result.has_value()) << name;
    EXPECT_EQ(result.error().kind, PathsErrorKind::InvalidProfileName);
    EXPECT_EQ(result.error().name, name);
  }
}

TEST(DataDirTest, JoinsUnderApplicationSupport) {
  EXPECT_EQ(data_dir("/Users/a", false), "/Users/a/Library/Application Support/kestrum");
  EXPECT_EQ(data_dir("/Users/a", true), "/Users/a/Library/Application Support/kestrum Dev");
  EXPECT_EQ(data_dir("/Users/a/", false), "/Users/a/Library/Application Support/kestrum");
  EXPECT_EQ(data_dir("", false), "Library/Application Support/kestrum");
}

TEST(DataDirTest, KeepsHomeBytesThatAreNotUtf8) {
  const std::string home = "/Users/\xFF\xFE";
  EXPECT_EQ(data_dir(home, false).native(), home + "/Library/Application Support/kestrum");
}

TEST(DataDirTest, IgnoresTheDataDirVariable) {
  ::setenv("KESTRUM_DATA_DIR", "/elsewhere", 1);
  EXPECT_EQ(data_dir("/Users/a", false), "/Users/a/Library/Application Support/kestrum");
  ::unsetenv("KESTRUM_DATA_DIR");
}

TEST(ProfilePathsTest, FormsTheFourPaths) {
  const fs::path root = "/Users/a/Library/Application Support/kestrum";
  const auto p = ProfilePaths::with_root(root, profile("kestrum"));
  ASSERT_TRUE(p.has_value());
  EXPECT_EQ(p->profile_dir(), root / "profiles/kestrum");
  EXPECT_EQ(p->run_dir(), root / "run");
  EXPECT_EQ(p->socket_path(), root / "run/kestrum.sock");
  EXPECT_EQ(p->socket_path().native().size(), 61u);
  EXPECT_EQ(p->token_path(), root / "run/kestrum.token");
}

TEST(ProfilePathsTest, SocketPathOf103BytesIsTheLongestAccepted) {
  const std::string home50 = "/" + std::string(49, 'h');
  const auto ok = ProfilePaths::with_root(data_dir(home50, false), profile("kestrum"));
  ASSERT_TRUE(ok.has_value());
  EXPECT_EQ(ok->socket_path().native().size(), 103u);

  const std::string home51 = "/" + std::string(50, 'h');
  const auto too_long = ProfilePaths::with_root(data_dir(home51, false), profile("kestrum"));
  ASSERT_FALSE(too_long.has_value());
  EXPECT_EQ(too_long.error().kind, PathsErrorKind::SocketPathTooLong);
  EXPECT_EQ(too_long.error().bytes, 104u);
  EXPECT_EQ(too_long.error().path, data_dir(home51, false) / "run/kestrum.sock");
}

TEST(ProfilePathsTest, PerSessionFilesShareOneHashedName) {
  const auto p = *ProfilePaths::with_root("/d", profile("kestrum"));
  const std::string hash = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";
  EXPECT_EQ(p.remote_marker("test"), "/d/profiles/kestrum/remote/" + hash);
  EXPECT_EQ(p.statusline_out("test"), "/d/profiles/kestrum/kestrum-status-" + hash + ".out");
  EXPECT_EQ(p.statusline_lock("test"), "/d/profiles/kestrum/kestrum-status-" + hash + ".lock");
  EXPECT_EQ(p.skip_marker("test"), "/d/profiles/kestrum/kestrum-skip-" + hash + ".json");
  EXPECT_NE(p.remote_marker("a/b"), p.remote_marker("a/c"));
  EXPECT_EQ(p.remote_marker("../../x").parent_path(), "/d/profiles/kestrum/remote");
}

TEST(PathsErrorTest, RendersForTheLaunchersNotice) {
  EXPECT_EQ(describe(PathsError::missing_arg()), "MissingProfileArg");
  EXPECT_EQ(describe(PathsError::invalid_name("Work")), "InvalidProfileName(\"Work\")");
  EXPECT_EQ(describe(PathsError::invalid_name("a\"b\\c\n")),
            "InvalidProfileName(\"a\\\"b\\\\c\\n\")");
  EXPECT_EQ(describe(PathsError::too_long("/x/run/k.sock", 110)),
            "SocketPathTooLong { path: \"/x/run/k.sock\", bytes: 110 }");
}

}  // namespace
}  // namespace kestrum
