#include "testing/app_double/fake_app.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "appclient/connection.hpp"
#include "common/local_socket.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::testkit {
namespace {

using namespace std::chrono_literals;

UniqueFd connect_to(const std::filesystem::path& path) {
  auto fd = connect_with_timeout(path, 2s);
  return fd ? std::move(*fd) : UniqueFd();
}

std::string read_some(int fd) {
  char buf[256];
  const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

TEST(FakeApp, AnswersByDefaultAndRecordsEachLine) {
  TempDir dir;
  FakeApp app(dir.path() / "s.sock");
  UniqueFd fd = connect_to(app.socket_path());
  ASSERT_TRUE(fd);
  const std::string lines =
      "{\"id\":1,\"method\":\"hello\"}\n{\"id\":2,\"method\":\"x\"}\n"
      "{\"method\":\"n\"}\nnot json\n";
  ASSERT_EQ(send_no_sigpipe(fd.get(), lines.data(), lines.size()),
            static_cast<ssize_t>(lines.size()));
  ASSERT_TRUE(app.wait_for_messages(4, 4s));
  std::string answers;
  while (answers.size() < 80) answers += read_some(fd.get());
  EXPECT_EQ(answers,
            "{\"id\":1,\"jsonrpc\":\"2.0\",\"result\":{\"protocol_version\":0}}\n"
            "{\"id\":2,\"jsonrpc\":\"2.0\",\"result\":null}\n");
  const auto received = app.received();
  EXPECT_EQ(received[3].line, "not json");
  EXPECT_TRUE(received[3].message.is_null());
  EXPECT_EQ(app.messages_of(0).size(), 4u);
  EXPECT_FALSE(app.wait_for_messages(5, 50ms));
}

TEST(FakeApp, StopClosesClientsAndReleasesEverything) {
  TempDir dir;
  const int before = count_open_fds();
  UniqueFd fd;
  {
    FakeApp app(dir.path() / "s.sock");
    app.on("hello", Reply::greeting().after(60s));  // a stop must cut a pending delay short
    fd = connect_to(app.socket_path());
    ASSERT_TRUE(fd);
    const std::string hello = "{\"id\":1,\"method\":\"hello\"}\n";
    ASSERT_GT(send_no_sigpipe(fd.get(), hello.data(), hello.size()), 0);
    ASSERT_TRUE(app.wait_for_messages(1, 4s));
  }
  EXPECT_EQ(read_some(fd.get()), "");  // end of stream
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "s.sock"));
  fd.reset();
  EXPECT_EQ(count_open_fds(), before);
}

TEST(FakeApp, ReplacesAStaleSocketFile) {
  TempDir dir;
  { FakeApp first(dir.path() / "s.sock"); }
  {
    UniqueFd stale(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, (dir.path() / "s.sock").c_str());
    ASSERT_EQ(::bind(stale.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  }
  FakeApp app(dir.path() / "s.sock");
  EXPECT_TRUE(connect_to(app.socket_path()));
}

}  // namespace
}  // namespace kestrum::testkit
