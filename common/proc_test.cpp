#include "common/proc.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kestrum::proc {
namespace {

TEST(ProcInfoTest, ReportsThisProcess) {
  const auto me = info(static_cast<std::uint32_t>(::getpid()));
  ASSERT_TRUE(me.has_value());
  EXPECT_EQ(me->ppid, static_cast<std::uint32_t>(::getppid()));
  EXPECT_EQ(me->exe_name, "kestrum_common_test");
}

TEST(ProcInfoTest, RefusesIdsBeyondSigned32Bits) {
  EXPECT_FALSE(info(2147483648u).has_value());
  EXPECT_FALSE(info(0xFFFFFFFFu).has_value());
}

TEST(ProcInfoTest, ExeNameIsTheLastNormalComponent) {
  EXPECT_EQ(exe_name_of("/usr/bin/kestrum-desktop"), "kestrum-desktop");
  EXPECT_EQ(exe_name_of("/usr/bin/x/"), "x");
  EXPECT_EQ(exe_name_of("/usr/bin/x/."), "x");
  EXPECT_EQ(exe_name_of("/"), std::nullopt);
  EXPECT_EQ(exe_name_of("/usr/.."), std::nullopt);
  EXPECT_EQ(exe_name_of("/a/\xFF"), "\xEF\xBF\xBD");
}

TEST(PeerPidTest, SocketPairPeerIsThisProcess) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  EXPECT_EQ(peer_pid(fds[0]), static_cast<std::uint32_t>(::getpid()));
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_EQ(peer_pid(fds[0]), std::nullopt);  // closed
}

TEST(DesktopPidTest, NothingWithoutADesktopAncestor) {
  EXPECT_EQ(desktop_pid(), std::nullopt);
}

TEST(CurrentExeTest, NamesThisTest) {
  const auto exe = current_exe();
  ASSERT_TRUE(exe.has_value());
  EXPECT_TRUE(exe->ends_with("/kestrum_common_test"));
}

}  // namespace
}  // namespace kestrum::proc
