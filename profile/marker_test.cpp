#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <vector>

#include "profile/marker.hpp"
#include "profile/profile_paths.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum {
namespace {

namespace fs = std::filesystem;

class MarkerTest : public ::testing::Test {
 protected:
  testkit::TempDir tmp_;
  const fs::path dir_ = tmp_.path();
};

TEST(SessionDigestTest, IsAlways64HexDigits) {
  for (const std::string& id :
       std::vector<std::string>{"", "a/b c", std::string(5000, 'x'), std::string("\0z", 2)}) {
    const std::string name = session_digest(id);
    EXPECT_EQ(name.size(), 64u);
    EXPECT_EQ(name.find_first_not_of("0123456789abcdef"), std::string::npos);
  }
}

TEST_F(MarkerTest, TellsPresentAbsentAndUnknown) {
  EXPECT_EQ(read_marker(dir_ / "missing"), MarkerState::Absent);
  EXPECT_EQ(read_marker(dir_ / "no-dir" / "missing"), MarkerState::Absent);
  std::ofstream(dir_ / "empty").close();
  EXPECT_EQ(read_marker(dir_ / "empty"), MarkerState::Present);
  fs::create_directory(dir_ / "sub");
  EXPECT_EQ(read_marker(dir_ / "sub"), MarkerState::Unknown);
  fs::create_symlink(dir_ / "empty", dir_ / "link");
  EXPECT_EQ(read_marker(dir_ / "link"), MarkerState::Unknown);
  fs::create_symlink(dir_ / "gone", dir_ / "dangling");
  EXPECT_EQ(read_marker(dir_ / "dangling"), MarkerState::Unknown);
  EXPECT_EQ(read_marker(dir_ / "empty" / "below-a-file"), MarkerState::Unknown);
  EXPECT_EQ(read_marker(std::string("/tmp/a\0b", 8)), MarkerState::Unknown);
}

TEST_F(MarkerTest, SocketIsNotAMarker) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string path = (dir_ / "s").string();
  path.copy(addr.sun_path, sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(read_marker(dir_ / "s"), MarkerState::Unknown);
  ::close(fd);
}

TEST_F(MarkerTest, UnsearchableDirectoryIsUnknown) {
  fs::create_directory(dir_ / "locked");
  std::ofstream(dir_ / "locked" / "m").close();
  fs::permissions(dir_ / "locked", fs::perms::none);
  // Root passes every permission check, so the look-up runs as "nobody" there.
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
    ::_exit(read_marker(dir_ / "locked" / "m") == MarkerState::Unknown ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kestrum
