#include "profile/env.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

namespace kestrum {
namespace {

class EnvTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const char* name : {"CLAUDE_CONFIG_DIR", "KESTRUM_LAUNCH_TOKEN", "KESTRUM_SOCKET",
                             "KESTRUM_USER_STATUSLINE"}) {
      ::unsetenv(name);
    }
    ::setenv("HOME", home_.c_str(), 1);
  }
  std::string home_ = std::getenv("HOME") ? std::getenv("HOME") : "/";
};

TEST_F(EnvTest, StoresValuesExactlyAsFound) {
  ::setenv("HOME", "", 1);
  ::setenv("KESTRUM_SOCKET", "/run/\xFF.sock", 1);
  ::setenv("KESTRUM_USER_STATUSLINE", "   ", 1);
  ::setenv("KESTRUM_LAUNCH_TOKEN", " tok ", 1);
  const Env env = Env::from_process();
  ASSERT_TRUE(env.home.has_value());
  EXPECT_EQ(env.home->native(), "");
  EXPECT_EQ(env.socket->native(), "/run/\xFF.sock");
  EXPECT_EQ(env.user_statusline, "   ");
  EXPECT_EQ(env.launch_token, " tok ");
  EXPECT_EQ(env.request_timeout, std::chrono::seconds(2));
  EXPECT_FALSE(env.dev);
  EXPECT_EQ(env.parent_pid, static_cast<std::uint32_t>(::getppid()));
  const auto exe = env.current_exe();
  ASSERT_TRUE(exe.has_value());
  EXPECT_EQ(exe->filename(), "kestrum_profile_test");
  ASSERT_TRUE(env.desktop_pid);
  EXPECT_EQ(env.desktop_pid(), std::nullopt);
}

TEST_F(EnvTest, EmptyOrNonUtf8TextIsAbsent) {
  ::unsetenv("HOME");
  ::setenv("CLAUDE_CONFIG_DIR", "", 1);
  ::setenv("KESTRUM_LAUNCH_TOKEN", "t\xFF", 1);
  ::setenv("KESTRUM_SOCKET", "", 1);
  ::setenv("KESTRUM_USER_STATUSLINE", "\xC0\x80", 1);
  const Env env = Env::from_process();
  EXPECT_FALSE(env.home.has_value());
  EXPECT_FALSE(env.claude_config_dir.has_value());
  EXPECT_FALSE(env.launch_token.has_value());
  EXPECT_FALSE(env.socket.has_value());
  EXPECT_FALSE(env.user_statusline.has_value());
}

TEST_F(EnvTest, ReportedPidIsNeverZero) {
  Env env;
  env.parent_pid = 0;
  EXPECT_EQ(env.reported_pid(), 1u);
  env.parent_pid = 77;
  EXPECT_EQ(env.reported_pid(), 77u);
}

}  // namespace
}  // namespace kestrum
