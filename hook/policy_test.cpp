#include "hook/policy.hpp"

#include <gtest/gtest.h>

#include "appclient/app_session.hpp"
#include "testing/app_double/fake_app.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using testkit::FakeApp;
using testkit::Reply;

milliseconds since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

std::string out_of(const Outcome& outcome) {
  EXPECT_FALSE(outcome.err);
  EXPECT_EQ(outcome.status, 0u);
  return outcome.out.value_or("<none>");
}

constexpr std::string_view kAllow =
    R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"allow"}})";

std::string verdict(std::string_view word, std::string_view reason) {
  return std::string(R"({"hookSpecificOutput":{"hookEventName":"PreToolUse",)") +
         R"("permissionDecision":")" + std::string(word) + R"(","permissionDecisionReason":")" +
         std::string(reason) + R"("}})";
}

TEST(PolicyTexts, HaveTheirExactLengths) {
  EXPECT_EQ(kDefaultPolicyReason.size(), 26u);
  EXPECT_EQ(kNoDecisionText.size(), 89u);
  EXPECT_EQ(kDeclinedText.size(), 54u);
}

TEST(MapPreToolAnswer, AllowAskDenyAndNoOpinion) {
  EXPECT_EQ(out_of(*map_pre_tool_answer({{"decision", "allow"}, {"reason", "x"}})), kAllow);
  EXPECT_EQ(out_of(*map_pre_tool_answer({{"decision", "ask"}})),
            verdict("ask", kDefaultPolicyReason));
  EXPECT_EQ(out_of(*map_pre_tool_answer({{"decision", "deny"}, {"reason", "no"}})),
            verdict("deny", "no"));
  EXPECT_EQ(out_of(*map_pre_tool_answer({{"decision", "deny"}, {"reason", ""}})),
            verdict("deny", ""));
  EXPECT_EQ(out_of(*map_pre_tool_answer({{"decision", "ask"}, {"reason", 5}})),
            verdict("ask", kDefaultPolicyReason));
  const Decided none = map_pre_tool_answer({{"decision", nullptr}});
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->out || none->err || none->status);
}

TEST(MapPreToolAnswer, OtherShapesAreUnexpected) {
  const Json answers[] = {Json{{"decision", "Allow"}},
                          Json{{"decision", "hold"}},
                          Json{{"decision", true}},
                          Json{{"decision", 1}},
                          Json{{"decision", Json::array()}},
                          Json{{"decision", Json::object()}},
                          Json::object(),
                          Json(nullptr),
                          Json("allow")};
  for (const Json& answer : answers) EXPECT_FALSE(map_pre_tool_answer(answer)) << answer;
}

TEST(MapWaitAnswer, AnythingButAllowOrDenyIsNoDecision) {
  EXPECT_EQ(out_of(map_wait_answer({{"decision", "allow"}})), kAllow);
  EXPECT_EQ(out_of(map_wait_answer({{"decision", "deny"}, {"reason", "r"}})), verdict("deny", "r"));
  EXPECT_EQ(out_of(map_wait_answer({{"decision", "deny"}, {"reason", false}})),
            verdict("deny", kNoDecisionText));
  for (const Json& answer : {Json{{"decision", "ask"}}, Json{{"decision", nullptr}}, Json::object(),
                             Json(nullptr), Json("allow")}) {
    EXPECT_EQ(out_of(map_wait_answer(answer)), verdict("deny", kNoDecisionText)) << answer;
  }
}

TEST(MapPermissionAnswer, AllowDenyAndNoOpinion) {
  EXPECT_EQ(out_of(*map_permission_answer({{"behavior", "allow"}})),
            R"({"hookSpecificOutput":{"decision":{"behavior":"allow"},)"
            R"("hookEventName":"PermissionRequest"}})");
  EXPECT_EQ(out_of(*map_permission_answer({{"behavior", "deny"}, {"message", "M"}})),
            R"({"hookSpecificOutput":{"decision":{"behavior":"deny","interrupt":false,)"
            R"("message":"M"},"hookEventName":"PermissionRequest"}})");
  EXPECT_EQ(out_of(*map_permission_answer({{"behavior", "deny"}, {"message", 5}})),
            R"({"hookSpecificOutput":{"decision":{"behavior":"deny","interrupt":false,)"
            R"("message":")" +
                std::string(kDeclinedText) + R"("},"hookEventName":"PermissionRequest"}})");
  const Decided none = map_permission_answer({{"behavior", nullptr}});
  ASSERT_TRUE(none);
  EXPECT_FALSE(none->out);
}

TEST(MapPermissionAnswer, OtherShapesAreUnexpected) {
  for (const Json& answer : {Json(nullptr), Json::object(), Json{{"behavior", "Deny"}},
                             Json{{"behavior", true}}, Json{{"decision", "allow"}}}) {
    EXPECT_FALSE(map_permission_answer(answer)) << answer;
  }
}

class DecisionExchange : public ::testing::Test {
 protected:
  void TearDown() override {
    app_.stop();
    EXPECT_EQ(testkit::count_open_fds(), fds_before_);
  }

  Decided pre_tool(milliseconds request_limit = 2s, milliseconds person_limit = 10s) {
    return pre_tool_use(request(request_limit, person_limit));
  }

  AppRequest request(milliseconds request_limit, milliseconds person_limit) const {
    return {app_.socket_path(), "policy_check", identity_, params_, request_limit, person_limit};
  }

  // The app's lines once the hook's connections have ended.
  std::vector<testkit::Received> lines_after(std::size_t connections) {
    EXPECT_TRUE(app_.wait_for_closed(connections, 4s));
    return app_.received();
  }

  int fds_before_ = testkit::count_open_fds();
  testkit::TempDir dir_;
  FakeApp app_{dir_.path() / "app.sock"};
  Json identity_ = {{"protocol_version", 0u}, {"role", "hook"}, {"token", "t"}};
  Json params_ = {{"tool_name", "Bash"}};
};

TEST_F(DecisionExchange, HoldIsAwaitedOnTheSameConnectionPastTheShortLimit) {
  app_.on("policy_check", Reply::result({{"decision", "hold"}, {"perm_id", "p1"}}));
  app_.on("policy_wait", Reply::result({{"decision", "allow"}}).after(700ms));
  const auto start = Clock::now();
  EXPECT_EQ(out_of(*pre_tool(300ms)), kAllow);
  EXPECT_GE(since(start), 700ms);

  const auto lines = lines_after(1);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].line,
            R"({"id":2,"jsonrpc":"2.0","method":"policy_check","params":{"tool_name":"Bash"}})");
  EXPECT_EQ(lines[2].line,
            R"({"id":3,"jsonrpc":"2.0","method":"policy_wait","params":{"perm_id":"p1"}})");
  EXPECT_EQ(app_.connections(), 1u);
}

TEST_F(DecisionExchange, HoldWithoutTextPermIdIsDeniedWithoutWaiting) {
  for (const Json& hold :
       {Json{{"decision", "hold"}}, Json{{"decision", "hold"}, {"perm_id", 7}}}) {
    app_.on("policy_check", Reply::result(hold));
    EXPECT_EQ(out_of(*pre_tool()), verdict("deny", kNoDecisionText));
  }
  for (const auto& line : lines_after(2)) EXPECT_NE(line.message["method"], "policy_wait");
}

TEST_F(DecisionExchange, FailedWaitIsDeniedWithNoDecision) {
  app_.on("policy_check", Reply::result({{"decision", "hold"}, {"perm_id", "p"}}));
  const Reply failures[] = {Reply::close(), Reply::error(), Reply::line("garbage"),
                            Reply::result({{"decision", "ask"}})};
  for (const Reply& failure : failures) {
    app_.on("policy_wait", failure);
    EXPECT_EQ(out_of(*pre_tool()), verdict("deny", kNoDecisionText));
  }
  app_.on("policy_wait", Reply::silence());
  const auto start = Clock::now();
  EXPECT_EQ(out_of(*pre_tool(2s, 300ms)), verdict("deny", kNoDecisionText));
  EXPECT_LT(since(start), 2s);
}

TEST_F(DecisionExchange, FirstPhaseHasOneDeadline) {
  // Each step alone fits in 300 ms; together they do not.
  app_.on("hello", Reply::greeting().after(200ms));
  app_.on("policy_check", Reply::result({{"decision", "allow"}}).after(200ms));
  const auto start = Clock::now();
  EXPECT_FALSE(pre_tool(300ms));
  EXPECT_LT(since(start), 2s);
}

TEST_F(DecisionExchange, FirstPhaseFailuresFallBack) {
  app_.on("policy_check", Reply::result({{"decision", "maybe"}}));
  EXPECT_FALSE(pre_tool());
  app_.on("policy_check", Reply::error());
  EXPECT_FALSE(pre_tool());
  app_.on("hello", Reply::silence());
  EXPECT_FALSE(pre_tool(300ms));
}

TEST_F(DecisionExchange, PermissionAnswerMayTakeLongerThanTheShortLimit) {
  app_.on("permission_decide", Reply::result({{"behavior", "allow"}}).after(700ms));
  const AppRequest asked{app_.socket_path(), "permission_decide", identity_, params_, 300ms, 10s};
  const Decided decided = permission_request(asked);
  ASSERT_TRUE(decided);
  EXPECT_NE(decided->out->find(R"("behavior":"allow")"), std::string::npos);
  const auto lines = lines_after(1);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].message["id"], 2);
  EXPECT_EQ(lines[1].message["method"], "permission_decide");
}

}  // namespace
}  // namespace kestrum
