#include "appclient/connection.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "testing/app_double/fake_app.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum {
namespace {

using namespace std::chrono_literals;
using testkit::TempDir;

Clock::duration since(Clock::time_point start) {
  return Clock::now() - start;
}

// The launcher's notice shows these names.
TEST(RpcErrorText, IsTheName) {
  EXPECT_EQ(to_string(RpcError::Connect), "Connect");
  EXPECT_EQ(to_string(RpcError::Io), "Io");
  EXPECT_EQ(to_string(RpcError::Timeout), "Timeout");
  EXPECT_EQ(to_string(RpcError::Protocol), "Protocol");
}

TEST(Connect, EveryFailureIsQuickAndLeavesNoDescriptor) {
  TempDir dir;
  const std::filesystem::path socket = dir.path() / "app.sock";
  const int fds_before = testkit::count_open_fds();
  const auto start = Clock::now();
  EXPECT_EQ(connect_with_timeout(socket, 5s).error(), RpcError::Connect);  // no file

  {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, socket.c_str());
    ASSERT_EQ(::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }  // closed: the file stays, nobody listens
  EXPECT_EQ(connect_with_timeout(socket, 5s).error(), RpcError::Connect);

  EXPECT_EQ(connect_with_timeout(dir.path() / std::string(200, 'x'), 5s).error(),
            RpcError::Connect);  // too long for an address
  EXPECT_EQ(connect_with_timeout("", 5s).error(), RpcError::Connect);
  EXPECT_LT(since(start), 2s);
  EXPECT_EQ(testkit::count_open_fds(), fds_before);

  std::filesystem::remove(socket);
  testkit::FakeApp app(socket);
  EXPECT_EQ(connect_with_timeout(socket, 0ns).error(), RpcError::Timeout);
  EXPECT_TRUE(connect_with_timeout(socket, 2s));
}

// Linux waits for room in a full backlog until the limit; macOS refuses at once.
TEST(Connect, ListenerThatNeverAcceptsFailsWithinTheLimit) {
#ifdef __APPLE__
  constexpr RpcError kFullBacklog = RpcError::Connect;
#else
  constexpr RpcError kFullBacklog = RpcError::Timeout;
#endif
  TempDir dir;
  testkit::FullListener full(dir.path() / "app.sock");
  const auto start = Clock::now();
  EXPECT_EQ(connect_with_timeout(dir.path() / "app.sock", 300ms).error(), kFullBacklog);
  if (kFullBacklog == RpcError::Timeout) {
    EXPECT_GE(since(start), 250ms);
  }
  EXPECT_LT(since(start), 2s);
}

// Neither side may reach a child the hook starts, nor take a standard descriptor's place.
TEST(AppConnection, SidesAreDistinctCloseOnExecDescriptorsAboveTheStandardOnes) {
  TempDir dir;
  testkit::FakeApp app(dir.path() / "app.sock");
  auto socket = connect_with_timeout(app.socket_path(), 2s);
  ASSERT_TRUE(socket);
  const auto connection = AppConnection::over(std::move(*socket));
  ASSERT_TRUE(connection);
  EXPECT_NE(connection->read_fd(), connection->write_fd());
  EXPECT_GE(connection->write_fd(), 3);
  EXPECT_TRUE(::fcntl(connection->read_fd(), F_GETFD) & FD_CLOEXEC);
  EXPECT_TRUE(::fcntl(connection->write_fd(), F_GETFD) & FD_CLOEXEC);
}

TEST(AppConnection, SendToAnAppThatDoesNotReadTimesOut) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  UniqueFd app_side(pair[1]);
  auto connection = AppConnection::over(UniqueFd(pair[0]));
  ASSERT_TRUE(connection);
  const Json huge = std::string(8 << 20, 'x');
  const auto start = Clock::now();
  EXPECT_EQ(send_message(*connection, std::nullopt, "m", huge, deadline_after(300ms)).error(),
            RpcError::Timeout);
  EXPECT_LT(since(start), 3s);  // writing the text out counts too, slow in sanitised builds
  EXPECT_EQ(send_message(*connection, std::nullopt, "m", huge, Clock::now() - 1ms).error(),
            RpcError::Timeout);
  EXPECT_EQ(read_answer(*connection, 2, Clock::now()).error(), RpcError::Timeout);
}

}  // namespace
}  // namespace kestrum
