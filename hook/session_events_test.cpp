#include "hook/session_events.hpp"

#include <gtest/gtest.h>

namespace kestrum {
namespace {

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

}  // namespace
}  // namespace kestrum
