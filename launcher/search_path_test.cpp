#include "launcher/search_path.hpp"

#include <gtest/gtest.h>

#include "testing/process/files.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::launcher {
namespace {

using Home = std::optional<std::filesystem::path>;

TEST(FallbackPath, AppendsInstallDirectoriesAfterNonEmptyPathEntries) {
  EXPECT_EQ(fallback_path("/usr/bin::/bin:", Home("/Users/a")),
            "/usr/bin:/bin:/Users/a/.local/bin:/Users/a/.claude/local:/Users/a/.npm-global/bin:"
            "/Users/a/.bun/bin:/opt/homebrew/bin:/usr/local/bin");
}

TEST(FallbackPath, WithoutPathOrHomeOnlySystemDirectories) {
  EXPECT_EQ(fallback_path(std::nullopt, std::nullopt), "/opt/homebrew/bin:/usr/local/bin");
  EXPECT_EQ(fallback_path("", std::nullopt), "/opt/homebrew/bin:/usr/local/bin");
  EXPECT_EQ(fallback_path(":::", std::nullopt), "/opt/homebrew/bin:/usr/local/bin");
}

TEST(FallbackPath, EntriesAlreadyPresentStayInPlace) {
  EXPECT_EQ(fallback_path("/usr/local/bin:/bin", std::nullopt),
            "/usr/local/bin:/bin:/opt/homebrew/bin");
  EXPECT_EQ(fallback_path("/h/.bun/bin:/opt/homebrew/bin", Home("/h")),
            "/h/.bun/bin:/opt/homebrew/bin:/h/.local/bin:/h/.claude/local:/h/.npm-global/bin:"
            "/usr/local/bin");
}

TEST(FallbackPath, OnlyExactlyEqualEntriesCount) {
  // A trailing slash makes another entry, so the directory is appended again.
  EXPECT_EQ(fallback_path("/usr/local/bin/", std::nullopt),
            "/usr/local/bin/:/opt/homebrew/bin:/usr/local/bin");
  // The user's own duplicates are kept.
  EXPECT_EQ(fallback_path("/a:/a", std::nullopt), "/a:/a:/opt/homebrew/bin:/usr/local/bin");
}

TEST(FallbackPath, HomeIsJoinedWithOneSlash) {
  EXPECT_EQ(fallback_path(std::nullopt, Home("/Users/a/")),
            "/Users/a/.local/bin:/Users/a/.claude/local:/Users/a/.npm-global/bin:"
            "/Users/a/.bun/bin:/opt/homebrew/bin:/usr/local/bin");
  EXPECT_EQ(fallback_path(std::nullopt, Home("/")),
            "/.local/bin:/.claude/local:/.npm-global/bin:/.bun/bin:/opt/homebrew/bin:"
            "/usr/local/bin");
}

TEST(FallbackPath, OnlyAnAbsoluteHomeWithoutAColonAddsDirectories) {
  // Each would otherwise add an empty, a relative or a split entry: the current directory.
  for (const char* home : {":", "/a:/b", "", "home/a", ".", "/a:"}) {
    SCOPED_TRACE(home);
    EXPECT_EQ(fallback_path("/usr/bin", Home(home)), "/usr/bin:/opt/homebrew/bin:/usr/local/bin");
  }
}

TEST(FallbackPath, HomeThatIsNotUtf8IsReadLossily) {
  EXPECT_EQ(fallback_path(std::nullopt, Home("/h\xff")).substr(0, 16), "/h\xEF\xBF\xBD/.local/bin");
}

namespace fs = std::filesystem;
using testkit::TempDir;
using testkit::write_file;

class FindInPath : public ::testing::Test {
 protected:
  // dir/claude with the given permission bits.
  fs::path make_file(const std::string& dir, fs::perms perms) {
    const fs::path d = root_.path() / dir;
    fs::create_directories(d);
    const fs::path file = d / "claude";
    write_file(file, "#!/bin/sh\n");
    fs::permissions(file, perms);
    return file;
  }
  std::string dir(const std::string& name) const { return (root_.path() / name).string(); }

  TempDir root_;
};

TEST_F(FindInPath, FirstExecutableMatchWins) {
  make_file("a", fs::perms::owner_read | fs::perms::owner_write);
  const fs::path b = make_file("b", fs::perms::owner_all);
  make_file("c", fs::perms::owner_all);
  EXPECT_EQ(find_in_path(dir("a") + ":" + dir("b") + ":" + dir("c"), "claude"), b);
}

TEST_F(FindInPath, AnyOfTheThreeExecuteBitsIsEnough) {
  for (const auto perms : {fs::perms::owner_exec, fs::perms::group_exec, fs::perms::others_exec}) {
    const fs::path file = make_file("x", perms);
    EXPECT_EQ(find_in_path(dir("x"), "claude"), file);
  }
}

TEST_F(FindInPath, TrailingSlashIsNotDoubled) {
  const fs::path file = make_file("a", fs::perms::owner_all);
  EXPECT_EQ(find_in_path(dir("a") + "/", "claude")->string(), file.string());
}

TEST_F(FindInPath, DirectoriesNamedClaudeAreSkipped) {
  fs::create_directories(root_.path() / "a" / "claude");
  const fs::path file = make_file("b", fs::perms::owner_all);
  EXPECT_EQ(find_in_path(dir("a") + ":" + dir("b"), "claude"), file);
}

TEST_F(FindInPath, SymbolicLinksAreFollowed) {
  const fs::path target = make_file("real", fs::perms::owner_all);
  fs::create_directories(root_.path() / "link");
  fs::create_symlink(target, root_.path() / "link" / "claude");
  EXPECT_EQ(find_in_path(dir("link"), "claude"), root_.path() / "link" / "claude");

  // A broken link, or one to a non-executable file, is skipped.
  fs::create_directories(root_.path() / "broken");
  fs::create_symlink(root_.path() / "nowhere", root_.path() / "broken" / "claude");
  const fs::path plain = make_file("plain", fs::perms::owner_read);
  fs::create_directories(root_.path() / "to-plain");
  fs::create_symlink(plain, root_.path() / "to-plain" / "claude");
  EXPECT_EQ(find_in_path(dir("broken") + ":" + dir("to-plain") + ":" + dir("real"), "claude"),
            target);
}

TEST_F(FindInPath, RelativeAndEmptyEntriesAreNeverSearched) {
  const fs::path file = make_file("rel", fs::perms::owner_all);
  const fs::path old = fs::current_path();
  fs::current_path(root_.path());
  EXPECT_EQ(find_in_path("rel:.:./rel:", "claude"), std::nullopt);
  EXPECT_EQ(find_in_path(":rel:" + dir("rel"), "claude"), file);
  fs::current_path(old);
}

TEST_F(FindInPath, NothingFoundGivesNothing) {
  EXPECT_EQ(find_in_path("", "claude"), std::nullopt);
  EXPECT_EQ(find_in_path(dir("missing") + ":/nonexistent/dir", "claude"), std::nullopt);
}

TEST_F(FindInPath, PathsWithANulByteAreSkippedNotTruncated) {
  // Cut at the NUL, the candidate would name an executable file.
  const fs::path file = make_file("a", fs::perms::owner_all);
  const std::string piece = file.string() + std::string(1, '\0') + "x";
  EXPECT_EQ(find_in_path(piece, "claude"), std::nullopt);
}

}  // namespace
}  // namespace kestrum::launcher
