#include "cli/launch.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrum::launch {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Words = std::vector<std::string>;

// The spans point into `words`, which the caller keeps.
std::optional<Launch> launched(const Words& words) {
  const Command command = classify(words);
  if (const auto* launch = std::get_if<Launch>(&command)) return *launch;
  return std::nullopt;
}

Words as_words(std::span<const std::string> span) {
  return {span.begin(), span.end()};
}

TEST(Classify, VersionOnlyAsTheSoleWord) {
  EXPECT_TRUE(std::holds_alternative<Version>(classify(Words{"--version"})));
  EXPECT_TRUE(std::holds_alternative<Usage>(classify(Words{"--version", "claude"})));
  EXPECT_TRUE(std::holds_alternative<Usage>(classify(Words{"--version", "x"})));
}

TEST(Classify, UsageWithoutClaudeAfterTheLeadingOptions) {
  for (const Words& words :
       {Words{}, Words{"--profile"}, Words{"--profile", "a"}, Words{"--profile", "claude"},
        Words{"--profile=work", "claude"}, Words{"--data-dir=/x", "claude"}, Words{"Claude"},
        Words{"x", "claude"}, Words{"--data-dir", "/x", "--profile"}}) {
    EXPECT_TRUE(std::holds_alternative<Usage>(classify(words))) << ::testing::PrintToString(words);
  }
}

TEST(Classify, LeadingPairsTakeAnyValue) {
  const Words words{"--profile", "-x", "--data-dir", "--profile", "claude", "-p", "y"};
  const auto launch = launched(words);
  ASSERT_TRUE(launch);
  EXPECT_THAT(as_words(launch->leading), ElementsAre("--profile", "-x", "--data-dir", "--profile"));
  EXPECT_THAT(as_words(launch->words), ElementsAre("-p", "y"));

  const Words just_claude{"claude"};
  const auto plain = launched(just_claude);
  ASSERT_TRUE(plain);
  EXPECT_THAT(as_words(plain->leading), IsEmpty());
  EXPECT_THAT(as_words(plain->words), IsEmpty());

  const Words twice{"--data-dir", "/tmp", "claude", "claude"};
  const auto data_dir = launched(twice);
  ASSERT_TRUE(data_dir);
  EXPECT_THAT(as_words(data_dir->words), ElementsAre("claude"));
}

TEST(RegistrationParams, ModeAndResumeOnlyWhenSet) {
  EXPECT_EQ(dump_compact(registration_params("/w", {})), R"({"cwd":"/w"})");
  cli::LaunchArgs args;
  args.mode = "plan";
  args.resume = "abc";
  EXPECT_EQ(dump_compact(registration_params("", args)),
            R"({"cwd":"","mode":"plan","resume":"abc"})");
}

class PlanLaunch : public ::testing::Test {
 protected:
  Plan plan(const std::expected<Json, std::string>& registered) {
    return plan_launch(registered, typed_, args_);
  }
  Plan plan_reply(std::string_view reply) { return plan(*parse_json(reply)); }

  const Words typed_{"--permission-mode", "plan", "--model", "x"};
  const cli::LaunchArgs args_{{"--model", "x"}, "plan", std::nullopt};
};

TEST_F(PlanLaunch, RegistrationFailureLaunchesTheTypedWords) {
  const Plan p = plan(std::unexpected(std::string("Timeout")));
  EXPECT_EQ(p.notice, "Timeout");
  EXPECT_EQ(p.words, typed_);
  EXPECT_THAT(p.app_env, IsEmpty());
}

TEST_F(PlanLaunch, UsableReplyPutsTheAppsWordsFirst) {
  const Plan p = plan_reply(R"({"args":["--settings","/s.json"],"env":{"KESTRUM_SOCKET":"/s"}})");
  EXPECT_FALSE(p.notice);
  EXPECT_THAT(p.words, ElementsAre("--settings", "/s.json", "--model", "x"));
  EXPECT_THAT(p.app_env, ElementsAre(std::pair<std::string, std::string>("KESTRUM_SOCKET", "/s")));

  const Plan empty_args = plan_reply(R"({"args":[]})");
  EXPECT_FALSE(empty_args.notice);
  EXPECT_THAT(empty_args.words, ElementsAre("--model", "x"));
  EXPECT_THAT(empty_args.app_env, IsEmpty());
}

TEST_F(PlanLaunch, OnlyAllowListedStringVariablesAreTaken) {
  const Plan p = plan_reply(R"({"args":[],"env":{
      "PATH":"/evil","HOME":"/evil","LD_PRELOAD":"/x.so","KESTRUM_OTHER":"x",
      "KESTRUM_USER_STATUSLINE":"echo hi","KESTRUM_SOCKET":7,"KESTRUM_DATA_DIR":"/d",
      "CLAUDE_CONFIG_DIR":"/c","KESTRUM_LAUNCH_TOKEN":"t","kestrum_socket":"x"}})");
  using V = std::pair<std::string, std::string>;
  // In byte order of the names.
  EXPECT_THAT(p.app_env,
              ElementsAre(V("CLAUDE_CONFIG_DIR", "/c"), V("KESTRUM_DATA_DIR", "/d"),
                          V("KESTRUM_LAUNCH_TOKEN", "t"), V("KESTRUM_USER_STATUSLINE", "echo hi")));
  EXPECT_THAT(plan_reply(R"({"args":[],"env":["KESTRUM_SOCKET","/s"]})").app_env, IsEmpty());
}

TEST_F(PlanLaunch, UnusableRepliesLaunchUnregistered) {
  for (const char* reply :
       {"null", "[]", R"("args")", "{}", R"({"args":null})", R"({"args":"--x"})",
        R"({"args":["a",1,"b"]})", R"({"args":[["a"]],"env":{"KESTRUM_SOCKET":"/s"}})"}) {
    const Plan p = plan_reply(reply);
    EXPECT_EQ(p.notice, "앱 응답을 읽지 못했어요") << reply;
    EXPECT_EQ(p.words, typed_) << reply;
    EXPECT_THAT(p.app_env, IsEmpty()) << reply;
  }
}

TEST(Messages, FailureLineCarriesTheSystemErrorAndItsNumber) {
  EXPECT_EQ(launch_failure_line(2),
            "kestrum: claude 를 띄우지 못했어요: No such file or directory (os error 2)");
  EXPECT_EQ(unregistered_notice("Connect"),
            "kestrum: kestrum 없이 띄웁니다 — 동료에게 보이지 않아요(Connect)");
}

}  // namespace
}  // namespace kestrum::launch
