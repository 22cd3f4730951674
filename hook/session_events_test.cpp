#include "hook/session_events.hpp"

#include <gtest/gtest.h>

#include "testing/fake_app/fake_app.hpp"
#include "tests/support/process.hpp"

namespace kestrum {
namespace {

using namespace std::chrono_literals;
using testing::FakeApp;
using testing::Reply;

constexpr std::string_view kBlock =
    R"({"decision":"block","reason":"kestrum: 원격 작업 중에는 설정을 바꿀 수 없다"})";

TEST(MapPromptAnswer, ContextOnlyForANonEmptyString) {
  EXPECT_EQ(
      map_prompt_answer({{"additional_context", "C"}}).out,
      R"({"hookSpecificOutput":{"additionalContext":"C","hookEventName":"UserPromptSubmit"}})");
  for (const Json& answer : {Json{{"additional_context", ""}}, Json{{"additional_context", 1}},
                             Json::object(), Json(nullptr), Json("C")}) {
    const Outcome outcome = map_prompt_answer(answer);
    EXPECT_FALSE(outcome.out || outcome.err || outcome.status) << answer;
  }
}

TEST(MapConfigAnswer, BlockOnlyForBooleanTrue) {
  EXPECT_EQ(kConfigBlockReason.size(), 60u);
  EXPECT_EQ(map_config_answer({{"block", true}, {"reason", "mine"}})->out, kBlock);
  const Decided allowed = map_config_answer({{"block", false}});
  ASSERT_TRUE(allowed);
  EXPECT_FALSE(allowed->out);
  for (const Json& answer : {Json{{"block", "true"}}, Json{{"block", 1}}, Json{{"block", nullptr}},
                             Json::object(), Json(nullptr), Json(true)}) {
    EXPECT_FALSE(map_config_answer(answer)) << answer;
  }
}

class EventExchange : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  FakeApp app_{dir_.path() / "app.sock"};
  Json identity_ = {{"protocol_version", 0u}, {"role", "hook"}};
  Json params_ = {{"event", "Stop"}};
  AppRequest request_{app_.socket_path(), identity_, params_};
};

TEST_F(EventExchange, SessionEventIsANotification) {
  const Decided decided = report_session_event(request_, 2s);
  ASSERT_TRUE(decided);
  EXPECT_FALSE(decided->out);
  ASSERT_TRUE(app_.wait_for_messages(2, 4s));
  EXPECT_EQ(app_.received()[1].line,
            R"({"jsonrpc":"2.0","method":"session_event","params":{"event":"Stop"}})");
}

TEST_F(EventExchange, PromptAndConfigAnswersAreMapped) {
  app_.on("prompt_submitted", Reply::result({{"additional_context", "C"}}));
  app_.on("config_change", Reply::result({{"block", true}}));
  EXPECT_NE(submit_prompt(request_, 2s)->out->find("\"C\""), std::string::npos);
  EXPECT_EQ(report_config_change(request_, 2s)->out, kBlock);
  app_.on("config_change", Reply::result({{"block", "yes"}}));
  EXPECT_FALSE(report_config_change(request_, 2s));
}

TEST_F(EventExchange, FailuresFallBack) {
  app_.on("hello", Reply::close());
  EXPECT_FALSE(report_session_event(request_, 2s));
  EXPECT_FALSE(submit_prompt(request_, 2s));
  EXPECT_FALSE(report_config_change(request_, 2s));
}

}  // namespace
}  // namespace kestrum
