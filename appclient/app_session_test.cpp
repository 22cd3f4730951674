#include "appclient/app_session.hpp"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "testing/app_double/fake_app.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using std::chrono::milliseconds;
using testkit::FakeApp;
using testkit::FullListener;
using testkit::Reply;
using testkit::TempDir;

// A whole conversation: open, one request "m", close.
std::expected<Json, RpcError> call_once(const fs::path& socket, const Json& hello,
                                        const Json& params, std::chrono::nanoseconds limit) {
  auto session = AppSession::open(socket, hello, limit);
  if (!session) return std::unexpected(session.error());
  return session->call("m", params);
}

milliseconds since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// Every test checks that neither the client nor the stand-in app left a descriptor open.
class AppSessionTest : public ::testing::Test {
 protected:
  void SetUp() override { fds_before_ = testkit::count_open_fds(); }
  void TearDown() override {
    app_.reset();
    EXPECT_EQ(testkit::count_open_fds(), fds_before_);
  }

  FakeApp& app() {
    if (!app_) app_ = std::make_unique<FakeApp>(socket_);
    return *app_;
  }

  std::expected<Json, RpcError> call(std::chrono::nanoseconds limit = 2s) {
    return call_once(socket_, hello_, Json{{"k", "v"}}, limit);
  }

  std::expected<void, RpcError> notify(std::chrono::nanoseconds limit = 2s) {
    auto session = AppSession::open(socket_, hello_, limit);
    if (!session) return std::unexpected(session.error());
    return session->notify("m", Json{{"k", "v"}});
  }

  // The value the app answered "m" with, or the failure.
  std::expected<Json, RpcError> answer_of(Reply reply, std::chrono::nanoseconds limit = 2s) {
    app().on("m", std::move(reply));
    return call(limit);
  }

  TempDir dir_;
  fs::path socket_ = dir_.path() / "app.sock";
  Json hello_ = {{"role", "hook"}, {"token", "secret"}, {"protocol_version", 0u}};
  std::unique_ptr<FakeApp> app_;
  int fds_before_ = 0;
};

// --- greeting ---------------------------------------------------------------------------

TEST_F(AppSessionTest, WritesGreetingAndRequestAsCompactLinesInNameOrder) {
  app().on("m", Reply::result(1));
  ASSERT_TRUE(call());
  ASSERT_TRUE(app().wait_for_messages(2, 4s));
  const auto lines = app().received();
  EXPECT_EQ(lines[0].line,
            R"({"id":1,"jsonrpc":"2.0","method":"hello","params":{"protocol_version":0,)"
            R"("role":"hook","token":"secret"}})");
  EXPECT_EQ(lines[1].line, R"({"id":2,"jsonrpc":"2.0","method":"m","params":{"k":"v"}})");
  EXPECT_EQ(lines[0].connection, lines[1].connection);
}

TEST_F(AppSessionTest, GreetingWithoutProtocolZeroStopsBeforeTheRequest) {
  const Json versions[] = {1u, "0", 0.0, -1, nullptr};
  for (const Json& version : versions) {
    app().on("hello", Reply::greeting(version));
    EXPECT_EQ(call().error(), RpcError::Protocol) << version;
  }
  app().on("hello", Reply::result(Json::object()));
  EXPECT_EQ(call().error(), RpcError::Protocol);
  app().on("hello", Reply::result(0));
  EXPECT_EQ(call().error(), RpcError::Protocol);

  ASSERT_TRUE(app().wait_for_closed(7, 4s));
  for (const auto& message : app().messages()) EXPECT_EQ(message["method"], "hello");
}

TEST_F(AppSessionTest, GreetingAnswerMayCarryMoreMembers) {
  app().on("hello", Reply::result({{"protocol_version", 0u}, {"app", "x"}}));
  EXPECT_EQ(answer_of(Reply::result(3)), Json(3));
}

// --- which line is the answer -----------------------------------------------------------

TEST_F(AppSessionTest, UnrelatedLinesAreSkipped) {
  Reply reply = Reply::result("other").with_id(7);
  reply.then(Reply::line(R"({"jsonrpc":"2.0","result":"no id"})"))
      .then(Reply::line("[2]"))
      .then(Reply::line("2"))
      .then(Reply::result("the greeting's id").with_id(1))
      .then(Reply::result("mine"));
  EXPECT_EQ(answer_of(std::move(reply)), Json("mine"));
}

TEST_F(AppSessionTest, OnlyTheUnsignedIntegerIdMatches) {
  Reply reply = Reply::result("fractional").with_id(2.0);
  reply.then(Reply::result("negative").with_id(-2))
      .then(Reply::result("text").with_id("2"))
      .then(Reply::result("mine"));
  EXPECT_EQ(answer_of(std::move(reply)), Json("mine"));
}

TEST_F(AppSessionTest, ResultMayBeAnyValueIncludingNull) {
  EXPECT_EQ(answer_of(Reply::result(nullptr)), Json(nullptr));
  EXPECT_EQ(answer_of(Reply::result({{"a", {1, 2}}})), Json({{"a", {1, 2}}}));
  EXPECT_EQ(answer_of(Reply::line(" \t{\"id\":2,\"result\":4} \r")), Json(4));
}

TEST_F(AppSessionTest, ErrorMemberOrMissingResultIsProtocol) {
  EXPECT_EQ(answer_of(Reply::error()).error(), RpcError::Protocol);
  EXPECT_EQ(answer_of(Reply::error(nullptr)).error(), RpcError::Protocol);
  EXPECT_EQ(answer_of(Reply::line(R"({"error":null,"id":2,"result":1})")).error(),
            RpcError::Protocol);
  EXPECT_EQ(answer_of(Reply::line(R"({"id":2})")).error(), RpcError::Protocol);
}

TEST_F(AppSessionTest, LineThatIsNotExactlyOneValueIsProtocolAtOnce) {
  for (const char* text : {"", "   ", R"({"id":2,"result":1} x)", R"({"id":2,"result":1}{})",
                           "{\"id\":2,", "not json"}) {
    // The good answer behind the bad line must not be read.
    Reply reply = Reply::line(text);
    reply.then(Reply::result(1));
    EXPECT_EQ(answer_of(std::move(reply)).error(), RpcError::Protocol) << text;
  }
}

TEST_F(AppSessionTest, NestingBeyondTheGuardIsProtocol) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  EXPECT_EQ(answer_of(Reply::line(deep)).error(), RpcError::Protocol);
}

// --- the connection ends or breaks ------------------------------------------------------

TEST_F(AppSessionTest, InvalidUtf8LineIsIo) {
  EXPECT_EQ(answer_of(Reply::bytes("{\"id\":2,\"result\":\"\xff\"}\n")).error(), RpcError::Io);
}

TEST_F(AppSessionTest, AppClosingAfterTheGreetingFailsARequestButNotANotification) {
  // The pause lets the notification's line be written before the close.
  app().on("hello", Reply::greeting().then(Reply::close().after(300ms)));
  EXPECT_EQ(call().error(), RpcError::Io);
  EXPECT_TRUE(notify());
}

TEST_F(AppSessionTest, AppClosingBeforeOrInsideTheAnswerIsIo) {
  app().on("hello", Reply::close());
  EXPECT_EQ(call().error(), RpcError::Io);
  app().on("hello", Reply::bytes(R"({"id":1,"res)").and_close());
  EXPECT_EQ(call().error(), RpcError::Protocol);  // a last line is parsed like any other
}

TEST_F(AppSessionTest, LastLineWithoutLineFeedCounts) {
  EXPECT_EQ(answer_of(Reply::bytes(R"({"id":2,"result":5})").and_close()), Json(5));
}

// --- deadlines --------------------------------------------------------------------------

TEST_F(AppSessionTest, StallingAppTimesOutAtTheDeadline) {
  for (const char* method : {"hello", "m"}) {
    app().on(method, Reply::silence());
    const auto start = Clock::now();
    EXPECT_EQ(call(300ms).error(), RpcError::Timeout) << method;
    EXPECT_GE(since(start), 250ms);
    EXPECT_LT(since(start), 2s);
  }
}

TEST_F(AppSessionTest, ListenerThatNeverAcceptsFailsWithinTheLimit) {
  FullListener full(socket_);
  const auto start = Clock::now();
  EXPECT_FALSE(call(300ms));
  EXPECT_LT(since(start), 2s);
}

TEST_F(AppSessionTest, LateAnswerMissesAShortDeadlineAndMeetsALongOne) {
  EXPECT_EQ(answer_of(Reply::result(1).after(800ms), 300ms).error(), RpcError::Timeout);
  EXPECT_EQ(answer_of(Reply::result(1).after(300ms), 3s), Json(1));
}

TEST_F(AppSessionTest, TrickledAnswerIsReadWhileTimeLasts) {
  EXPECT_EQ(answer_of(Reply::result(12345).trickled(5ms), 4s), Json(12345));
}

TEST_F(AppSessionTest, TrickledAnswerCannotOutlastTheDeadline) {
  // About 40 bytes, 100 ms apart: each receive succeeds within its own timeout, but the
  // whole line would take 4 s.
  const auto start = Clock::now();
  EXPECT_EQ(answer_of(Reply::result("trickle trickle").trickled(100ms), 500ms).error(),
            RpcError::Timeout);
  EXPECT_LT(since(start), 1500ms);
}

TEST_F(AppSessionTest, LineThatNeverEndsIsRefusedAtTheCap) {
  const auto start = Clock::now();
  EXPECT_EQ(answer_of(Reply::bytes(std::string(kMaxLineBytes + 1, ' ')), 20s).error(),
            RpcError::Protocol);
  EXPECT_LT(since(start), 15s);
}

TEST_F(AppSessionTest, AnswerOfCountlessSmallValuesIsRefused) {
  // Each takes far more to build than to send: a line below the cap must not cost
  // hundreds of megabytes and seconds.
  const Json many(kMaxAnswerValues, Json::object({{"", 0}}));
  EXPECT_EQ(answer_of(Reply::result(many), 20s).error(), RpcError::Protocol);
  EXPECT_EQ(answer_of(Reply::result(Json(1000, Json::object({{"", 0}}))), 10s).value().size(),
            1000u);
}

TEST_F(AppSessionTest, LargeLineBelowTheCapIsRead) {
  const std::string big(1 << 20, 'a');
  EXPECT_EQ(answer_of(Reply::result(big), 10s), Json(big));
}

// --- notifications and parallel callers -------------------------------------------------

TEST_F(AppSessionTest, NotificationReturnsOnceWrittenWithoutId) {
  app();
  const auto start = Clock::now();
  EXPECT_TRUE(notify(10s));
  EXPECT_LT(since(start), 2s);
  ASSERT_TRUE(app().wait_for_messages(2, 4s));
  EXPECT_EQ(app().received()[1].line, R"({"jsonrpc":"2.0","method":"m","params":{"k":"v"}})");
}

TEST_F(AppSessionTest, ParallelCallersAreServedAtOnce) {
  app().on("m",
           [](const Json& request) { return Reply::result(request["params"]["n"]).after(500ms); });
  std::vector<std::future<std::expected<Json, RpcError>>> calls;
  const auto start = Clock::now();
  for (int n = 0; n < 8; ++n) {
    calls.push_back(std::async(std::launch::async, [this, n] {
      return call_once(socket_, hello_, Json{{"n", n}}, 10s);
    }));
  }
  for (int n = 0; n < 8; ++n) {
    auto result = calls[static_cast<std::size_t>(n)].get();
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, Json(n));
  }
  EXPECT_LT(since(start), 3s);  // 4 s one after another
  EXPECT_EQ(app().connections(), 8u);
}

}  // namespace
}  // namespace kestrum
