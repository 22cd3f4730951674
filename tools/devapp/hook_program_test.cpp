#include "tools/devapp/hook_program.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

namespace kestrum::devapp {
namespace {

namespace fs = std::filesystem;

class FindHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("kestrum-find-hook-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    for (const char* dir : {"own", "build", "path1", "path2"}) fs::create_directories(root_ / dir);
  }
  void TearDown() override { fs::remove_all(root_); }

  fs::path put(const std::string& dir, fs::perms mode = fs::perms::owner_all) {
    const fs::path file = root_ / dir / "kestrum-hook";
    std::ofstream(file) << "#!/bin/sh\n";
    fs::permissions(file, mode);
    return file;
  }
  HookSearch search() const {
    return {
        .given = {},
        .own_dir = root_ / "own",
        .build_tree_hook = root_ / "build" / "kestrum-hook",
        .search_path = "relative:" + (root_ / "path1").string() + ":" + (root_ / "path2").string()};
  }

  fs::path root_;
};

TEST_F(FindHookTest, PrefersBesideItselfThenTheBuildTreeThenPath) {
  const fs::path on_path = put("path2");
  EXPECT_EQ(find_hook(search()), on_path);
  put("path1", fs::perms::owner_read);  // not executable: passed over
  EXPECT_EQ(find_hook(search()), on_path);
  const fs::path built = put("build");
  EXPECT_EQ(find_hook(search()), built);
  const fs::path beside = put("own");
  EXPECT_EQ(find_hook(search()), beside);
}

TEST_F(FindHookTest, RefusesWhenNoneIsUsable) {
  fs::create_directories(root_ / "build" / "kestrum-hook");  // a directory is no program
  put("own", fs::perms::owner_read | fs::perms::owner_write);
  const auto found = find_hook(search());
  ASSERT_FALSE(found.has_value());
  EXPECT_EQ(found.error().find('\n'), std::string::npos);
  EXPECT_NE(found.error().find("--hook"), std::string::npos);
}

TEST_F(FindHookTest, AGivenHookMustBeAnExecutableFile) {
  put("path1");
  for (const fs::path& given :
       {root_ / "missing", root_ / "own", put("own", fs::perms::owner_read)}) {
    HookSearch s = search();
    s.given = given;
    EXPECT_FALSE(find_hook(s).has_value()) << given;  // never a fallback in its place
  }
  HookSearch s = search();
  s.given = put("build");
  EXPECT_EQ(find_hook(s), root_ / "build" / "kestrum-hook");
}

}  // namespace
}  // namespace kestrum::devapp
