#include "hook/statusline/child.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <thread>

#include "hook/statusline/statusline.hpp"
#include "testing/process/files.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"
#include "testing/process/waits.hpp"

namespace kestrum::statusline {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kestrum::testkit::count_open_fds;
using kestrum::testkit::process_gone;
using kestrum::testkit::TempDir;

ChildHandle start(const Command& command, std::string_view input = {}) {
  auto child = spawn_with_input(command, input);
  if (!child) throw std::runtime_error("not started: " + command.args.back());
  return std::move(*child);
}

std::optional<std::string> run_for(const std::string& script, std::chrono::milliseconds within,
                                   std::string_view input = {}) {
  return wait_for_output(start(shell_command(script), input), Clock::now() + within,
                         AtDeadline::Kill);
}

TEST(SpawnTest, FeedsInputAndCollectsCleanedOutput) {
  EXPECT_EQ(run_for("cat", 4s, "hello\r\n\n"), "hello");
  EXPECT_EQ(run_for("cat", 4s), std::nullopt);  // empty input: end of input at once
  EXPECT_EQ(run_for("echo out; exit 3", 4s), "out");
  EXPECT_EQ(run_for("printf '\\377ok\\n'", 4s), "\xEF\xBF\xBDok");
  EXPECT_EQ(run_for("printf '\\n\\r\\n'", 4s), std::nullopt);
}

TEST(SpawnTest, ACommandClosingItsInputEarlyCostsTheWriterNoSignal) {
  // Far more than a pipe holds, while this process keeps SIGPIPE at its default action.
  EXPECT_EQ(run_for("head -c 3", 4s, std::string(4 << 20, 'x')), "xxx");
}

TEST(SpawnTest, InputBeyondWhatAPipeHoldsReachesASlowReaderWhole) {
  EXPECT_EQ(run_for("sleep 0.2; wc -c | tr -d ' '", 4s, std::string(1 << 20, 'x')), "1048576");
}

TEST(SpawnTest, OnlyTheStandardDescriptorsReachTheCommand) {
  // Open in this process without close-on-exec, as a careless library might leave one.
  const int stray = ::dup(STDERR_FILENO);
  ASSERT_GE(stray, 3);
  const std::string n = std::to_string(stray);
  EXPECT_EQ(
      run_for("for fd in 0 1 2 " + n + "; do [ -e /dev/fd/$fd ] && printf 'o' || printf 'c'; done",
              4s),
      "oooc");
  ::close(stray);
}

TEST(SpawnTest, ChangesTheEnvironmentOverTheInheritedOne) {
  ::setenv("KESTRUM_TEST_INHERITED", "kept", 1);
  ::setenv("KESTRUM_TEST_CHANGED", "old", 1);
  Command command =
      shell_command("echo \"$KESTRUM_TEST_INHERITED $KESTRUM_TEST_CHANGED $KESTRUM_TEST_NEW\"");
  command.env_changes = {{"KESTRUM_TEST_CHANGED", "new"}, {"KESTRUM_TEST_NEW", "added"}};
  EXPECT_EQ(wait_for_output(start(command), Clock::now() + 4s, AtDeadline::Kill),
            std::optional<std::string>("kept new added"));
  ::unsetenv("KESTRUM_TEST_INHERITED");
  ::unsetenv("KESTRUM_TEST_CHANGED");
}

TEST(SpawnTest, ChildLeadsItsOwnGroupWithDefaultSignalsAndNoStandardError) {
  const TempDir record;
  const auto previous = ::signal(SIGPIPE, SIG_IGN);
  sigset_t blocked, before;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &blocked, &before);
  // The recorder notes the process it replaces: its group and its signal dispositions.
  const auto output =
      run_for("[ /dev/fd/2 -ef /dev/null ] && echo null; exec '" +
                  std::string(KESTRUM_START_REPORTER_BIN) + "' '" + record.path().string() + "' sh",
              4s);
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ::signal(SIGPIPE, previous);
  EXPECT_EQ(output, std::optional<std::string>("null"));
  long pid = 0, parent = 0, group = 0;
  std::istringstream(testkit::read_file(record.path() / "pid")) >> pid >> parent >> group;
  EXPECT_EQ(group, pid);
  EXPECT_NE(group, ::getpgrp());
  const std::string ignored = " " + testkit::read_file(record.path() / "sigign");
  EXPECT_EQ(ignored.find(" " + std::to_string(SIGPIPE) + " "), std::string::npos) << ignored;
  EXPECT_EQ(testkit::read_file(record.path() / "sigblock"), "");
}

TEST(SpawnTest, ACommandThatCannotStartGivesNothing) {
  EXPECT_FALSE(spawn_with_input(Command{.program = "/nonexistent/program"}, "input"));
}

TEST(WaitTest, WithoutKillingATimedOutChildGoesOn) {
  ChildHandle child = start(shell_command("sleep 30"));
  const auto pid = static_cast<pid_t>(child.pid());
  EXPECT_EQ(wait_for_output(std::move(child), Clock::now() + 100ms, AtDeadline::LetRun),
            std::nullopt);
  EXPECT_EQ(::kill(pid, 0), 0);
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

TEST(ChildHandleTest, DroppingAHandleKillsOnlyForegroundChildren) {
  pid_t foreground = 0;
  {
    ChildHandle child = start(shell_command("sleep 30"));
    foreground = static_cast<pid_t>(child.pid());
  }
  EXPECT_TRUE(process_gone(foreground));
  EXPECT_EQ(::waitpid(foreground, nullptr, WNOHANG), -1);  // already reaped

  Command background = shell_command("sleep 30");
  background.background = true;
  pid_t kept = 0;
  {
    ChildHandle child = start(background);
    kept = static_cast<pid_t>(child.pid());
  }
  EXPECT_EQ(::kill(kept, 0), 0);
  ::kill(-kept, SIGKILL);
  ::waitpid(kept, nullptr, 0);
}

TEST(ChildHandleTest, LeavesNoDescriptorBehind) {
  const int before = count_open_fds();
  run_for("cat", 4s, std::string(1 << 20, 'x'));
  run_for("exec 0<&-; echo ok", 4s, std::string(1 << 20, 'x'));
  run_for("sleep 30", 100ms, "x");
  { ChildHandle dropped = start(shell_command("sleep 30"), "x"); }
  auto missing = spawn_with_input(Command{.program = "/nonexistent"}, "x");
  EXPECT_EQ(count_open_fds(), before);
}

}  // namespace
}  // namespace kestrum::statusline
