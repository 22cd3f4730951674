#include "launcher/env.hpp"

#include <gtest/gtest.h>

namespace kestrum::env {
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

TEST(FallbackPath, EmptyHomeGivesRelativeEntries) {
  EXPECT_EQ(fallback_path(std::nullopt, Home("")),
            ".local/bin:.claude/local:.npm-global/bin:.bun/bin:/opt/homebrew/bin:/usr/local/bin");
}

TEST(FallbackPath, HomeThatIsNotUtf8IsReadLossily) {
  EXPECT_EQ(fallback_path(std::nullopt, Home("/h\xff")).substr(0, 16), "/h\xEF\xBF\xBD/.local/bin");
}

}  // namespace
}  // namespace kestrum::env
