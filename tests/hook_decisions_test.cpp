// kestrum-hook run as Claude Code runs it, against the stand-in app in a temporary HOME.
#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <vector>

#include "hook/events.hpp"
#include "hook/fallback.hpp"
#include "hook/intake.hpp"
#include "hook/policy.hpp"
#include "testing/app_double/fake_app.hpp"
#include "testing/process/app_layout.hpp"
#include "testing/process/files.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum {
namespace {

using namespace std::chrono_literals;
using testkit::FakeApp;
using testkit::Reply;
using testkit::RunResult;

const Json kEvent = {
    {"cwd", "/w/proj"},   {"permission_mode", "default"}, {"prompt", "Please run the probe."},
    {"session_id", "s1"}, {"stop_hook_active", false},    {"tool_input", {{"command", "echo hi"}}},
    {"tool_name", "Bash"}};

class HookDecisions : public ::testing::Test {
 protected:
  HookDecisions() { layout_.write_token(" tok\n"); }

  RunResult hook(const std::string& event_name, const Json& event = kEvent) const {
    testkit::RunOptions options;
    options.args = {event_name};
    options.input = dump_compact(event);
    options.env = {{"HOME", home_.path().string()}, {"PATH", "/usr/bin:/bin"}};
    return testkit::run_program(KESTRUM_HOOK_BIN, options);
  }

  // Standard output of a run that answered Claude Code normally.
  std::string answer(const std::string& event_name) const {
    const RunResult run = hook(event_name);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    return run.out;
  }

  void mark_remote() const { testkit::write_file(layout_.remote_marker("s1"), ""); }

  testkit::TempDir home_;
  testkit::AppLayout layout_{home_.path()};
  FakeApp app_{layout_.socket};
};

std::string line(std::string_view text) {
  return std::string(text) + "\n";
}

std::string pre_tool(std::string_view word, std::string_view reason) {
  return line(dump_compact({{"hookSpecificOutput",
                             {{"hookEventName", "PreToolUse"},
                              {"permissionDecision", word},
                              {"permissionDecisionReason", reason}}}}));
}

const std::string kAllow =
    line(R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"allow"}})");

TEST_F(HookDecisions, EveryEventSendsTheGreetingAndItsMethodOnly) {
  const std::string config_dir = (home_.path() / ".claude").string();
  const Json identity = {{"config_dir", config_dir},
                         {"cwd", "/w/proj"},
                         {"pid", ::getpid()},
                         {"protocol_version", 0},
                         {"role", "hook"},
                         {"session_id", "s1"},
                         {"token", "tok"}};
  // The app's side of the contract, written out rather than read from the hook's table.
  struct Sent {
    const char* event;
    const char* method;
    bool request;
  };
  const Sent sent[] = {{"PreToolUse", "policy_check", true},
                       {"PermissionRequest", "permission_decide", true},
                       {"PermissionDenied", "policy_denied", false},
                       {"UserPromptSubmit", "prompt_submitted", true},
                       {"ConfigChange", "config_change", true},
                       {"SessionStart", "session_event", false},
                       {"SessionEnd", "session_event", false},
                       {"Stop", "session_event", false},
                       {"StopFailure", "session_event", false},
                       {"SubagentStart", "session_event", false},
                       {"SubagentStop", "session_event", false},
                       {"Notification", "session_event", false},
                       {"PostToolUse", "session_event", false}};
  std::size_t connection = 0;
  for (const auto& [name, method, request] : sent) {
    hook(name);
    ASSERT_TRUE(app_.wait_for_closed(connection + 1, 4s)) << name;
    const auto messages = app_.messages_of(connection++);
    ASSERT_EQ(messages.size(), 2u) << name;
    EXPECT_EQ(messages[0],
              Json({{"id", 1}, {"jsonrpc", "2.0"}, {"method", "hello"}, {"params", identity}}))
        << name;
    Json expected = {{"jsonrpc", "2.0"},
                     {"method", method},
                     {"params", method_params(name, kEvent, config_dir)}};
    if (request) expected["id"] = 2;
    EXPECT_EQ(messages[1], expected) << name;
  }
}

TEST_F(HookDecisions, PreToolUseWritesTheAppsVerdict) {
  app_.on("policy_check", Reply::result({{"decision", "allow"}}));
  EXPECT_EQ(answer("PreToolUse"), kAllow);
  app_.on("policy_check", Reply::result({{"decision", "deny"}, {"reason", "not here"}}));
  EXPECT_EQ(answer("PreToolUse"), pre_tool("deny", "not here"));
  app_.on("policy_check", Reply::result({{"decision", "ALLOW"}}));
  EXPECT_EQ(answer("PreToolUse"), "");  // unexpected, and the session is local
}

TEST_F(HookDecisions, HeldCallWaitsForTheDecisionPastTheShortLimit) {
  app_.on("policy_check", Reply::result({{"decision", "hold"}, {"perm_id", "p1"}}));
  app_.on("policy_wait", Reply::result({{"decision", "allow"}}).after(2500ms));
  EXPECT_EQ(answer("PreToolUse"), kAllow);
  ASSERT_TRUE(app_.wait_for_messages(3, 4s));
  EXPECT_EQ(app_.messages()[2]["params"], Json({{"perm_id", "p1"}}));
}

TEST_F(HookDecisions, HeldCallEndsDeniedWithoutAUsableDecision) {
  app_.on("policy_check", Reply::result({{"decision", "hold"}, {"perm_id", "p1"}}));
  app_.on("policy_wait", Reply::result({{"decision", "deny"}, {"reason", "Nope."}}));
  EXPECT_EQ(answer("PreToolUse"), pre_tool("deny", "Nope."));
  app_.on("policy_wait", Reply::result({{"decision", "ask"}}));
  EXPECT_EQ(answer("PreToolUse"), pre_tool("deny", kNoDecisionText));
  app_.on("policy_check", Reply::result({{"decision", "hold"}}));
  EXPECT_EQ(answer("PreToolUse"), pre_tool("deny", kNoDecisionText));
}

TEST_F(HookDecisions, StallingAppCostsAboutTheShortLimit) {
  app_.on("policy_check", Reply::silence());
  RunResult run = hook("PreToolUse");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_GE(run.elapsed, 1800ms);
  EXPECT_LT(run.elapsed, 4s);

  mark_remote();
  run = hook("PreToolUse");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, line(kOnHoldText));
  EXPECT_LT(run.elapsed, 4s);
}

TEST_F(HookDecisions, PermissionRequestWritesAllowOrDeny) {
  app_.on("permission_decide", Reply::result({{"behavior", "allow"}}));
  EXPECT_EQ(answer("PermissionRequest"),
            line(R"({"hookSpecificOutput":{"decision":{"behavior":"allow"},)"
                 R"("hookEventName":"PermissionRequest"}})"));
  app_.on("permission_decide", Reply::result({{"behavior", "deny"}}));
  EXPECT_EQ(answer("PermissionRequest"),
            line(R"({"hookSpecificOutput":{"decision":{"behavior":"deny","interrupt":false,)"
                 R"("message":")" +
                 std::string(kDeclinedText) + R"("},"hookEventName":"PermissionRequest"}})"));
}

TEST_F(HookDecisions, PermissionRequestDoesNotWaitLongForAGreeting) {
  app_.on("hello", Reply::silence());
  const RunResult run = hook("PermissionRequest");
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_LT(run.elapsed, 4s);
}

TEST_F(HookDecisions, PromptContextAndConfigBlockAreWritten) {
  app_.on("prompt_submitted", Reply::result({{"additional_context", "Mind the probe."}}));
  EXPECT_EQ(answer("UserPromptSubmit"),
            line(R"({"hookSpecificOutput":{"additionalContext":"Mind the probe.",)"
                 R"("hookEventName":"UserPromptSubmit"}})"));
  app_.on("config_change", Reply::result({{"block", true}, {"reason", "app's own"}}));
  EXPECT_EQ(
      answer("ConfigChange"),
      line(R"({"decision":"block","reason":"kestrum: 원격 작업 중에는 설정을 바꿀 수 없다"})"));
}

TEST_F(HookDecisions, NotificationReturnsOnceItsLineIsWritten) {
  // The app neither answers nor closes; the hook must not wait for it.
  const RunResult run = hook("SessionStart");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_LT(run.elapsed, 1500ms);
  ASSERT_TRUE(app_.wait_for_messages(2, 4s));
}

TEST_F(HookDecisions, ParallelToolCallsAreAnsweredTogether) {
  app_.on("policy_check", Reply::result({{"decision", "allow"}}).after(1s));
  std::vector<std::future<RunResult>> runs;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; ++i) {
    runs.push_back(std::async(std::launch::async, [this] { return hook("PreToolUse"); }));
  }
  for (auto& run : runs) EXPECT_EQ(run.get().out, kAllow);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);  // 4 s one after another
}

}  // namespace
}  // namespace kestrum
