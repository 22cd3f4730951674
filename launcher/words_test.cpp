#include "launcher/words.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrum::launcher {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Words = std::vector<std::string>;

LaunchArgs accepted(const Words& words) {
  auto result = parse(words);
  EXPECT_TRUE(result.has_value()) << "refused: " << result.error();
  return result.value_or(LaunchArgs{});
}

std::string refusal(const Words& words) {
  auto result = parse(words);
  EXPECT_FALSE(result.has_value());
  return result.has_value() ? std::string("<accepted>") : result.error();
}

TEST(CliParse, NoWordsGivesNothing) {
  const LaunchArgs args = accepted({});
  EXPECT_THAT(args.passthrough, IsEmpty());
  EXPECT_FALSE(args.mode);
  EXPECT_FALSE(args.resume);
}

TEST(CliParse, OrdinaryWordsPassThroughInOrder) {
  EXPECT_THAT(accepted({"--model", "opus", "--verbose"}).passthrough,
              ElementsAre("--model", "opus", "--verbose"));
  // Inline values stay attached, and look-alikes of refused names are not refused.
  EXPECT_THAT(accepted({"--model=opus", "--printer", "-P"}).passthrough,
              ElementsAre("--model=opus", "--printer", "-P"));
  EXPECT_THAT(accepted({"--=x"}).passthrough, ElementsAre("--=x"));
  EXPECT_THAT(accepted({"", "-", "claude"}).passthrough, ElementsAre("", "-", "claude"));
}

TEST(CliParse, RefusedNamesAreReportedWithoutTheirValue) {
  for (const char* name :
       {"-c", "-p", "--print", "--settings", "--continue", "--session-id", "--setting-sources",
        "--strict-mcp-config", "--permission-prompt-tool", "--dangerously-skip-permissions",
        "--allow-dangerously-skip-permissions", "--dangerously-load-development-channels"}) {
    EXPECT_EQ(refusal({name}), name);
    EXPECT_EQ(refusal({"--verbose", name, "x"}), name);
  }
  EXPECT_EQ(refusal({"--settings=/tmp/x.json"}), "--settings");
  EXPECT_EQ(refusal({"--print="}), "--print");
  // Case matters: these are other options to Claude Code.
  EXPECT_THAT(accepted({"-P", "--Print"}).passthrough, ElementsAre("-P", "--Print"));
}

TEST(CliParse, BundlesOfShortOptionsAreReadLetterByLetter) {
  struct Case {
    const char* word;
    const char* refused;  // null when the word is accepted
    const char* resume;   // the conversation taken out, if any
  };
  const Case cases[] = {
      {"-cp", "-cp", nullptr},       {"-pc", "-pc", nullptr},     {"-vp", "-vp", nullptr},
      {"-p=x", "-p=x", nullptr},     {"-pfoo", "-pfoo", nullptr}, {"-cx", "-cx", nullptr},
      {"-hvc", "-hvc", nullptr},     {"-vr", "-vr", nullptr},     {"-rabc", nullptr, "abc"},
      {"-r=x", nullptr, "=x"},       {"-rp", nullptr, "p"},       {"-dp", nullptr, nullptr},
      {"-dapi,p", nullptr, nullptr}, {"-np", nullptr, nullptr},   {"-wc", nullptr, nullptr},
      {"-hv", nullptr, nullptr},     {"-1p", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    if (c.refused) {
      EXPECT_EQ(refusal({"--verbose", c.word}), c.refused);
      continue;
    }
    const LaunchArgs args = accepted({c.word});
    if (c.resume) {
      EXPECT_EQ(args.resume, c.resume);
      EXPECT_THAT(args.passthrough, IsEmpty());
    } else {
      EXPECT_FALSE(args.resume);
      EXPECT_THAT(args.passthrough, ElementsAre(c.word));
    }
  }
  // "-r-x" would give Claude Code an option, not a conversation.
  EXPECT_EQ(refusal({"-r-x"}), "-r");
}

TEST(CliParse, AValueThatLooksLikeARefusedOptionIsStillExamined) {
  EXPECT_EQ(refusal({"--model", "-p"}), "-p");
  EXPECT_EQ(refusal({"--append-system-prompt", "--print"}), "--print");
}

TEST(CliParse, DoubleDashEndsParsing) {
  EXPECT_THAT(accepted({"-v", "--", "-p", "--settings", "x", "--resume"}).passthrough,
              ElementsAre("-v", "--", "-p", "--settings", "x", "--resume"));
  EXPECT_THAT(accepted({"--"}).passthrough, ElementsAre("--"));
  // Only the exact word ends parsing.
  EXPECT_EQ(refusal({"--=", "-p"}), "-p");
}

TEST(CliParse, ResumeIsTakenOutInEveryForm) {
  for (const Words& words : {Words{"--resume", "abc"}, Words{"--resume=abc"}, Words{"-r", "abc"}}) {
    const LaunchArgs args = accepted(words);
    EXPECT_EQ(args.resume, "abc");
    EXPECT_THAT(args.passthrough, IsEmpty());
  }
  const LaunchArgs args = accepted({"--verbose", "-r", "one", "--resume", "two", "x"});
  EXPECT_EQ(args.resume, "two");
  EXPECT_THAT(args.passthrough, ElementsAre("--verbose", "x"));
  // A value may contain "=" and other bytes; only its first byte is checked.
  EXPECT_EQ(accepted({"--resume=a=b"}).resume, "a=b");
  EXPECT_EQ(accepted({"-r", "a-b"}).resume, "a-b");
}

TEST(CliParse, ResumeWithoutAUsableValueIsRefused) {
  EXPECT_EQ(refusal({"--resume"}), "--resume");
  EXPECT_EQ(refusal({"--resume="}), "--resume");
  EXPECT_EQ(refusal({"--resume", "-x"}), "--resume");
  EXPECT_EQ(refusal({"--resume", ""}), "--resume");
  EXPECT_EQ(refusal({"--resume=-x"}), "--resume");
  EXPECT_EQ(refusal({"-r"}), "-r");
  EXPECT_EQ(refusal({"-r", "--verbose"}), "-r");
}

TEST(CliParse, PermissionModeIsMappedAndTakenOut) {
  EXPECT_EQ(accepted({"--permission-mode", "manual"}).mode, "default");
  EXPECT_EQ(accepted({"--permission-mode=plan"}).mode, "plan");
  EXPECT_EQ(accepted({"--permission-mode", "auto"}).mode, "auto");
  EXPECT_EQ(accepted({"--permission-mode", "default"}).mode, "default");
  EXPECT_EQ(accepted({"--permission-mode", "acceptEdits"}).mode, "acceptEdits");
  const LaunchArgs args = accepted({"--permission-mode", "plan", "x", "--permission-mode", "auto"});
  EXPECT_EQ(args.mode, "auto");
  EXPECT_THAT(args.passthrough, ElementsAre("x"));
}

TEST(CliParse, UnknownPermissionModeIsRefusedWithItsValue) {
  EXPECT_EQ(refusal({"--permission-mode", "Plan"}), "--permission-mode Plan");
  EXPECT_EQ(refusal({"--permission-mode", "bypassPermissions"}),
            "--permission-mode bypassPermissions");
  EXPECT_EQ(refusal({"--permission-mode="}), "--permission-mode ");
  EXPECT_EQ(refusal({"--permission-mode"}), "--permission-mode");
  // The next word is the value even when it looks like an option.
  EXPECT_EQ(refusal({"--permission-mode", "-p"}), "--permission-mode -p");
  // A refusal later on wins over an accepted mode earlier on.
  EXPECT_EQ(refusal({"--permission-mode", "plan", "--permission-mode", "yolo"}),
            "--permission-mode yolo");
}

}  // namespace
}  // namespace kestrum::launcher
