// The hook program as Claude Code runs it, without an app to talk to.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "testing/process/app_layout.hpp"
#include "testing/process/files.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::testkit {
namespace {

constexpr std::string_view kConfigError = "kestrum hook 설정 오류\n";
constexpr std::string_view kOnHold =
    "kestrum is not running, so this action from a colleague's request is on hold. Ask the "
    "user to open kestrum.\n";

class HookEntryTest : public ::testing::Test {
 protected:
  RunResult hook(std::vector<std::string> args, std::string input = "") {
    RunOptions options;
    options.args = std::move(args);
    options.input = std::move(input);
    options.env = env_;
    return run_program(KESTRUM_HOOK_BIN, options);
  }
  void expect_silent(const RunResult& r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
  void expect_blocked(const RunResult& r, std::string_view text) {
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, text);
  }

  TempDir home_;
  AppLayout app_{home_.path()};
  std::map<std::string, std::string> env_{{"HOME", home_.path().string()},
                                          {"PATH", "/usr/bin:/bin"}};
};

TEST_F(HookEntryTest, VersionIsTheOnlyWordThatPrints) {
  RunOptions options;
  options.args = {"--version"};
  options.hold_stdin_open = true;  // it must not wait for input
  options.timeout = std::chrono::seconds(10);
  const RunResult r = run_program(KESTRUM_HOOK_BIN, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "kestrum-hook 0.1.0\n");
  EXPECT_EQ(r.err, "");
  EXPECT_LT(r.elapsed, std::chrono::seconds(5));

  expect_silent(hook({"--version", "x"}));
  expect_silent(hook({}));
  expect_silent(hook({"pretooluse"}));
  expect_silent(hook({"Unknown", "--profile"}));
}

TEST_F(HookEntryTest, ConfigurationProblemsHoldOnlyBlockingEvents) {
  expect_blocked(hook({"PreToolUse", "--profile"}), kConfigError);
  expect_blocked(hook({"ConfigChange", "--profile=Work"}), kConfigError);
  expect_blocked(hook({"PreToolUse", "--profile="}), kConfigError);
  expect_silent(hook({"Stop", "--profile"}));
  expect_silent(hook({"SessionStart", "--profile", "a_b"}));
  expect_silent(hook({"PermissionRequest", "--profile"}));

  env_.erase("HOME");
  expect_blocked(hook({"ConfigChange"}), kConfigError);
  expect_silent(hook({"SessionStart"}));
}

TEST_F(HookEntryTest, SocketPathTooLongIsAConfigurationProblem) {
  env_["HOME"] = "/" + std::string(60, 'h');
  expect_blocked(hook({"PreToolUse"}, R"({"session_id":"s"})"), kConfigError);
  expect_silent(hook({"PostToolUse"}, R"({"session_id":"s"})"));
}

TEST_F(HookEntryTest, WithoutTheAppRemoteSessionsAreHeld) {
  const std::string event = R"({"session_id":"remote-1","tool_name":"Bash","tool_input":{}})";
  expect_silent(hook({"PreToolUse"}, event));
  write_file(app_.remote_marker("remote-1"), "");
  expect_blocked(hook({"PreToolUse"}, event), kOnHold);
  expect_blocked(hook({"ConfigChange"}, event), kOnHold);
  expect_silent(hook({"PermissionRequest"}, event));
  expect_silent(hook({"UserPromptSubmit"}, event));
}

TEST_F(HookEntryTest, WithoutASessionBlockingEventsAreHeld) {
  expect_blocked(hook({"PreToolUse"}, "not json"), kOnHold);
  expect_blocked(hook({"ConfigChange"}, R"({"session_id":""})"), kOnHold);
  expect_silent(hook({"Stop"}, "not json"));
}

TEST_F(HookEntryTest, ClosedStandardInputReadsAsEmpty) {
  RunOptions options;
  options.args = {"PreToolUse"};
  options.env = env_;
  options.close_stdin = true;
  expect_blocked(run_program(KESTRUM_HOOK_BIN, options), kOnHold);
}

TEST_F(HookEntryTest, InputIsCutAtEightMebibytes) {
  constexpr std::size_t kLimit = 8 * 1024 * 1024;
  const std::string head = R"({"session_id":"s","pad":")";
  std::string exact = head + std::string(kLimit - head.size() - 2, 'x') + "\"}";
  ASSERT_EQ(exact.size(), kLimit);
  // Cut exactly at the limit the event is whole: a local session, let through.
  expect_silent(hook({"PreToolUse"}, exact + "trailing garbage beyond the limit"));
  // One byte more and the document is cut short: no session, held.
  std::string over = head + std::string(kLimit - head.size() - 1, 'x') + "\"}";
  expect_blocked(hook({"PreToolUse"}, over), kOnHold);
}

// Words are bytes: a profile name that is not UTF-8 is an invalid name, any other such
// word is ignored like every unknown word (the supervisor's paths may hold such bytes).
TEST_F(HookEntryTest, ArgumentsThatAreNotUtf8EndInAnOrderlyWay) {
  expect_blocked(hook({"PreToolUse", "--profile", "\xFF"}), kConfigError);
  expect_blocked(hook({"ConfigChange", "\xC0\x80"}), kOnHold);
  expect_silent(hook({"\xFF"}));
  expect_silent(hook({"Stop", "\xFF"}));
}

TEST_F(HookEntryTest, HostileInputNeverCrashes) {
  for (const std::string& input :
       {std::string(2'000'000, '['), std::string(3'000'000, '{'), std::string("\0\0\xFF", 3),
        std::string(R"({"session_id":"s","tool_input":)") + std::string(100000, '[')}) {
    const RunResult r = hook({"PreToolUse"}, input);
    EXPECT_EQ(r.signal, 0);
    EXPECT_TRUE(r.status == 0 || r.status == 2);
    EXPECT_TRUE(r.err.empty() || r.err == kOnHold);
  }
}

// Building a value of a million small objects takes far more memory than its 8 MiB of
// text: whatever allocation fails, a blocking event still holds the call, no crash lets it
// through. The status line reads no such document whole: the user's line still comes.
// Sanitizers reserve more address space than such a limit leaves.
TEST_F(HookEntryTest, OutOfMemoryABlockingEventIsHeldNotCrashed) {
#if defined(KESTRUM_SANITIZED) || !defined(__linux__)
  GTEST_SKIP() << "needs an address space limit the build can start under";
#endif
  std::string event = R"({"session_id":"s","tool_name":"Bash","tool_input":{"a":[)";
  while (event.size() < 7'700'000) event += R"({"":0},)";
  event += "0]}}";
  for (const char* kib : {"16384", "32768", "49152"}) {
    SCOPED_TRACE(kib);
    const auto limited = [&](const char* mode) {
      RunOptions options;
      options.args = {"-c", std::string("ulimit -v ") + kib + "; exec \"$0\" " + mode,
                      KESTRUM_HOOK_BIN};
      options.input = event;
      options.env = env_;
      options.env["KESTRUM_USER_STATUSLINE"] = "echo ok";
      return run_program("/bin/sh", options);
    };
    expect_blocked(limited("PreToolUse"), kConfigError);
    expect_blocked(limited("ConfigChange"), kConfigError);
    // Below this, the threads that feed and read the command find no room for their stacks.
    const RunResult status_line = limited("statusline");
    EXPECT_EQ(status_line.status, 0);
    if (std::string_view(kib) != "16384") {
      EXPECT_EQ(status_line.out, "ok\n");
    }
  }
}

}  // namespace
}  // namespace kestrum::testkit
