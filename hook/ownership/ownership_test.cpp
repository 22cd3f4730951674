#include "hook/ownership/ownership.hpp"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <memory>

#include "common/local_socket.hpp"
#include "common/proc.hpp"
#include "hook/ownership/skip_marker.hpp"
#include "testing/app_double/fake_app.hpp"
#include "testing/process/files.hpp"
#include "testing/process/other_user.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::ownership {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testkit::FakeApp;
using testkit::read_file;
using testkit::Reply;
using testkit::TempDir;
using testkit::write_file;

constexpr std::uint32_t kParentPid = 4321;
const std::optional<std::string> kSession = "session-1";

// The process the system names as the one listening at `socket`.
std::optional<std::uint32_t> listener_pid(const fs::path& socket) {
  const UniqueFd fd = open_local_socket();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  socket.native().copy(address.sun_path, sizeof address.sun_path - 1);
  // The sockets API takes the generic address type.
  if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return std::nullopt;
  }
  return proc::peer_pid(fd.get());
}

// The other instance lives in this process, so its socket's peer is this process: the
// desktop lookup is pointed at it.
class LaunchOwnershipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(paths_.profile_dir());
    fs::create_directories(other_socket_.parent_path());
    write_file(other_token_, "  other-token\n");
    env_.socket = other_socket_;
    env_.launch_token = "launch-1";
    env_.parent_pid = kParentPid;
    env_.desktop_pid = [calls = calls_, answer = desktop_] {
      ++*calls;
      return *answer;
    };
  }

  Ownership check(const std::optional<std::string>& session = kSession) {
    return launch_ownership(env_, paths_, session);
  }
  fs::path marker() const { return *skip_marker_path(paths_, kSession); }
  void write_marker(std::uint64_t pid, const fs::path& socket) {
    write_file(marker(), dump_compact(Json{{"pid", pid}, {"socket", socket.string()}}));
  }
  std::unique_ptr<FakeApp> other_app(Reply answer, std::optional<uid_t> listening_user = {}) {
    auto app = std::make_unique<FakeApp>(other_socket_, listening_user);
    app->on("launch_owned", std::move(answer));
    return app;
  }

  static ProfilePaths own_paths(const fs::path& root) {
    return *ProfilePaths::with_root(root, *Profile::create("kestrum"));
  }

  TempDir dir_;
  ProfilePaths paths_ = own_paths(dir_.path() / "own");
  fs::path other_socket_ = dir_.path() / "other/run/work.sock";
  fs::path other_token_ = dir_.path() / "other/run/work.token";
  std::shared_ptr<int> calls_ = std::make_shared<int>(0);
  std::shared_ptr<std::optional<std::uint32_t>> desktop_ =
      std::make_shared<std::optional<std::uint32_t>>(static_cast<std::uint32_t>(::getpid()));
  Env env_;
};

TEST_F(LaunchOwnershipTest, TheEnvironmentAndSocketShapeComeBeforeTheMarker) {
  write_marker(777, other_socket_);
  *desktop_ = 777;
  EXPECT_EQ(check(), Ownership::OwnedElsewhere);

  Env without_socket = env_;
  without_socket.socket.reset();
  EXPECT_EQ(launch_ownership(without_socket, paths_, kSession), Ownership::NotOwned);
  Env without_token = env_;
  without_token.launch_token.reset();
  EXPECT_EQ(launch_ownership(without_token, paths_, kSession), Ownership::NotOwned);

  for (const fs::path& socket :
       {dir_.path() / "own/run/kestrum.sock",
        fs::path(dir_.path().string() + "//own/run/kestrum.sock/."),
        dir_.path() / "other/runs/work.sock", dir_.path() / "other/run/Work.sock",
        fs::path("other/run/work.sock"), dir_.path() / "\xff/run/work.sock"}) {
    write_marker(777, socket);
    env_.socket = socket;
    EXPECT_EQ(check(), Ownership::NotOwned) << socket;
  }
  EXPECT_EQ(*calls_, 1) << "only the first check may ask for the desktop app";
}

TEST_F(LaunchOwnershipTest, AMarkerForTheSocketDecidesWithoutAConnection) {
  const auto app = other_app(Reply::result({{"owned", true}}));
  *desktop_ = 777;
  write_marker(777, other_socket_);
  EXPECT_EQ(check(), Ownership::OwnedElsewhere);
  *desktop_ = 778;  // the recorded app is no longer the ancestor
  EXPECT_EQ(check(), Ownership::NotOwned);
  *desktop_ = std::nullopt;
  EXPECT_EQ(check(), Ownership::NotOwned);
  const int asked = *calls_;
  for (const std::uint64_t pid : {0u, 1u}) {
    *desktop_ = static_cast<std::uint32_t>(pid);
    write_marker(pid, other_socket_);
    EXPECT_EQ(check(), Ownership::NotOwned) << pid;
  }
  EXPECT_EQ(*calls_, asked) << "a pid below 2 needs no lookup";
  EXPECT_EQ(app->connections(), 0u);
}

TEST_F(LaunchOwnershipTest, AConfirmedProbeWritesTheMarker) {
  const auto app = other_app(Reply::result({{"owned", true}, {"since", 1}}));
  EXPECT_EQ(check(), Ownership::OwnedElsewhere);
  ASSERT_TRUE(app->wait_for_messages(2, 2s));
  const auto messages = app->messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0]["params"], (Json{{"pid", kParentPid},
                                         {"protocol_version", 0},
                                         {"role", "probe"},
                                         {"token", "other-token"}}));
  EXPECT_EQ(messages[1]["id"], 2);
  EXPECT_EQ(messages[1]["method"], "launch_owned");
  EXPECT_EQ(messages[1]["params"], (Json{{"launch_token", "launch-1"}}));
  EXPECT_EQ(read_file(marker()),
            skip_marker_text(static_cast<std::uint32_t>(::getpid()), other_socket_.native()));
  EXPECT_EQ(*calls_, 2) << "asked before and after the exchange";

  // The next event of the session decides from the marker alone.
  EXPECT_EQ(check(), Ownership::OwnedElsewhere);
  EXPECT_EQ(app->connections(), 1u);
}

TEST_F(LaunchOwnershipTest, AParentIdOfZeroIsSentAsOne) {
  env_.parent_pid = 0;
  const auto app = other_app(Reply::result({{"owned", true}}));
  EXPECT_EQ(check(std::nullopt), Ownership::OwnedElsewhere);
  ASSERT_TRUE(app->wait_for_messages(1, 2s));
  EXPECT_EQ(app->messages()[0]["params"]["pid"], 1);
}

TEST_F(LaunchOwnershipTest, WithoutASessionTheProbeRunsButLeavesNoMarker) {
  const auto app = other_app(Reply::result({{"owned", true}}));
  EXPECT_EQ(check(std::nullopt), Ownership::OwnedElsewhere);
  EXPECT_TRUE(fs::is_empty(paths_.profile_dir()));
}

TEST_F(LaunchOwnershipTest, MarkersThatDoNotDecideLeadToTheProbe) {
  const auto app = other_app(Reply::result({{"owned", true}}));
  const auto expect_probed = [&](std::size_t connections) {
    EXPECT_EQ(check(), Ownership::OwnedElsewhere);
    EXPECT_EQ(app->connections(), connections);
  };
  write_marker(777, dir_.path() / "elsewhere/run/work.sock");
  expect_probed(1);
  EXPECT_EQ(read_skip_marker(marker(), other_socket_.native()),
            static_cast<std::uint64_t>(::getpid()))
      << "the marker of another socket is overwritten";
  write_file(marker(), "{\"pid\":");
  expect_probed(2);
  write_file(marker(), R"({"pid":"7","socket":")" + other_socket_.string() + "\"}");
  expect_probed(3);

  fs::remove(marker());
  fs::create_directory(marker());
  expect_probed(4);
  EXPECT_TRUE(fs::is_directory(marker()));
}

TEST_F(LaunchOwnershipTest, AnythingButOwnedTrueIsNotOwned) {
  for (Reply answer : {Reply::result({{"owned", false}}), Reply::result({{"owned", "true"}}),
                       Reply::result({{"owned", 1}}), Reply::result(true), Reply::result(nullptr),
                       Reply::result(Json::array({true})), Reply::error(), Reply::close()}) {
    const auto app = other_app(answer);
    EXPECT_EQ(check(), Ownership::NotOwned);
    EXPECT_EQ(app->connections(), 1u);
  }
  EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(LaunchOwnershipTest, APeerThatIsNotTheDesktopAncestorIsNeverAsked) {
  const auto app = other_app(Reply::result({{"owned", true}}));
  *desktop_ = static_cast<std::uint32_t>(::getpid()) + 1;
  EXPECT_EQ(check(), Ownership::NotOwned);
  *desktop_ = std::nullopt;
  EXPECT_EQ(check(), Ownership::NotOwned);
  EXPECT_TRUE(app->wait_for_closed(2, 2s));
  EXPECT_TRUE(app->messages().empty()) << "nothing is sent to an app of unknown identity";
  EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(LaunchOwnershipTest, AnotherUsersListenerIsNeverAsked) {
  if (!testkit::can_act_as_other_user()) GTEST_SKIP() << "needs root to listen as another user";
  testkit::open_to_everyone(dir_.path(), other_socket_.parent_path());
  const auto app = other_app(Reply::result({{"owned", true}}), testkit::kOtherUser);
  *desktop_ = listener_pid(other_socket_);  // even when it passes for the desktop ancestor
  ASSERT_TRUE(*desktop_);
  EXPECT_EQ(check(), Ownership::NotOwned);
  EXPECT_TRUE(app->wait_for_closed(2, 2s));
  EXPECT_TRUE(app->messages().empty()) << "the token reached another user";
  EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(LaunchOwnershipTest, TheDesktopAncestorMustStillBeThePeerAfterTheAnswer) {
  const auto app = other_app(Reply::result({{"owned", true}}));
  const auto self = static_cast<std::uint32_t>(::getpid());
  env_.desktop_pid = [calls = calls_, self]() -> std::optional<std::uint32_t> {
    return ++*calls == 1 ? self : self + 1;
  };
  EXPECT_EQ(check(), Ownership::NotOwned);
  EXPECT_EQ(*calls_, 2);
  EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(LaunchOwnershipTest, AnUnusableTokenMeansNoConnection) {
  const auto app = other_app(Reply::result({{"owned", true}}));
  write_file(other_token_, " \n\t");
  EXPECT_EQ(check(), Ownership::NotOwned);
  fs::remove(other_token_);
  EXPECT_EQ(check(), Ownership::NotOwned);
  EXPECT_EQ(app->connections(), 0u);
}

TEST_F(LaunchOwnershipTest, NobodyListeningIsNotOwned) {
  EXPECT_EQ(check(), Ownership::NotOwned);
  write_file(other_socket_, "");
  EXPECT_EQ(check(), Ownership::NotOwned);
}

TEST_F(LaunchOwnershipTest, AStallingInstanceCostsAboutTheProbeLimit) {
  const int fds = testkit::count_open_fds();
  {
    const auto app = other_app(Reply::silence());
    app->on("hello", Reply::silence());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(check(), Ownership::NotOwned);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 250ms);
    EXPECT_LT(took, 1500ms);
  }
  {
    const auto app = other_app(Reply::result({{"owned", true}}).after(1s));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(check(), Ownership::NotOwned) << "one deadline covers greeting and answer";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
  }
  EXPECT_EQ(testkit::count_open_fds(), fds);
}

}  // namespace
}  // namespace kestrum::ownership
