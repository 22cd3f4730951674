// kestrum-hook against files someone else planted or swapped, events that are not quite
// JSON, and signals during a wait: every run must end in time with a safe answer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "common/fd_io.hpp"
#include "common/json.hpp"
#include "common/sha256.hpp"
#include "hook/messages.hpp"
#include "testing/app_double/fake_app.hpp"
#include "testing/process/app_layout.hpp"
#include "testing/process/background.hpp"
#include "testing/process/files.hpp"
#include "testing/process/other_user.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"
#include "testing/process/waits.hpp"

namespace kestrum::testkit {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kSession = "s-hostile";
// Every hook mode's own deadline; the margin is for a loaded machine.
constexpr auto kDeadline = 2s;
constexpr auto kMargin = 4s;

std::string event_json() {
  return dump_compact(Json{{"cwd", "/w"},
                           {"session_id", std::string(kSession)},
                           {"prompt", "hi"},
                           {"tool_input", {{"command", "ls"}}},
                           {"tool_name", "Bash"}});
}

std::string line(std::string_view text) {
  return std::string(text) + "\n";
}

void make_fifo(const fs::path& path) {
  fs::remove(path);
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
}

class HostileFiles : public ::testing::Test {
 protected:
  HostileFiles() {
    layout_.write_token("tok\n");
    app_.on("policy_check", Reply::result({{"decision", "allow"}}));
  }

  RunOptions options(std::vector<std::string> args, std::string input = event_json()) const {
    RunOptions run;
    run.args = std::move(args);
    run.input = std::move(input);
    run.env = env_;
    run.timeout = 30s;
    return run;
  }
  RunResult hook(std::vector<std::string> args, std::string input = event_json()) const {
    return run_program(KESTRUM_HOOK_BIN, options(std::move(args), std::move(input)));
  }

  fs::path status_file(std::string_view suffix) const {
    return layout_.profile_dir / ("kestrum-status-" + sha256_hex(kSession) + std::string(suffix));
  }

  TempDir home_;
  TempDir scratch_;
  AppLayout layout_{home_.path()};
  FakeApp app_{layout_.socket};
  std::map<std::string, std::string> env_{{"HOME", home_.path().string()},
                                          {"PATH", "/usr/bin:/bin"},
                                          {"KESTRUM_USER_STATUSLINE", "echo line"}};
};

TEST_F(HostileFiles, ATokenThatIsAFifoEndsEveryModeWithinItsDeadline) {
  make_fifo(layout_.token);
  for (const char* mode :
       {"PreToolUse", "PermissionRequest", "UserPromptSubmit", "SessionStart", "statusline"}) {
    SCOPED_TRACE(mode);
    const RunResult r = hook({mode});
    EXPECT_EQ(r.signal, 0);
    EXPECT_LT(r.elapsed, kDeadline + kMargin);
    // Unreadable token, local session: as if the app were away.
    EXPECT_TRUE(r.status == 0 || r.status == 2) << r.status;
  }
  EXPECT_EQ(app_.connections(), 0u);
}

TEST_F(HostileFiles, AnotherUsersListenerAtTheSocketIsNoApp) {
  if (!can_act_as_other_user()) GTEST_SKIP() << "needs root to listen as another user";
  app_.stop();
  open_to_everyone(home_.path(), layout_.run_dir);
  FakeApp other(layout_.socket, kOtherUser);
  other.on("policy_check", Reply::result({{"decision", "allow"}}));
  // The app-unreachable answers: a local session proceeds silently, a remote one is held.
  for (const bool remote : {false, true}) {
    SCOPED_TRACE(remote ? "remote" : "local");
    if (remote) write_file(layout_.remote_marker(std::string(kSession)), "");
    const RunResult r = hook({"PreToolUse"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, remote ? 2 : 0);
    EXPECT_EQ(r.err, remote ? line(kOnHoldText) : "");
  }
  EXPECT_TRUE(other.messages().empty()) << "the token reached another user";
}

TEST_F(HostileFiles, ALockSwappedForAFifoLeavesNoSupervisorPastTheCap) {
  constexpr auto kCap = 1000ms;
  env_["KESTRUM_STATUSLINE_CAP_MS"] = std::to_string(kCap.count());
  env_["LOCK"] = status_file(".lock").string();
  env_["KESTRUM_USER_STATUSLINE"] = R"(rm -f "$LOCK"; mkfifo "$LOCK"; exec sleep 30)";
  const RunResult r = hook({"statusline-user", "--out", status_file(".out").string(), "--lock",
                            status_file(".lock").string()},
                           "{}");
  EXPECT_EQ(r.signal, 0);
  EXPECT_LT(r.elapsed, kCap + 1s + kMargin);
  // Not ours any more: the FIFO stays where it was planted.
  EXPECT_TRUE(fs::is_fifo(status_file(".lock")));
}

TEST_F(HostileFiles, AnEventWithAByteOrderMarkOrANulIsNoEvent) {
  const std::string event = event_json();
  for (const std::string& input :
       {"\xEF\xBB\xBF" + event, event + std::string(1, '\0'), event + std::string(1, '\0') + "x"}) {
    SCOPED_TRACE(input);
    // A blocking event without a session is held; the app is not asked.
    const RunResult r = hook({"PreToolUse"}, input);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, line(kOnHoldText));
  }
  EXPECT_EQ(app_.connections(), 0u);
}

TEST_F(HostileFiles, StartedWithoutEvenItsOwnNameItActsAsWithNoWords) {
  const fs::path out = scratch_.path() / "out";
  const std::vector<std::string> entries = environment_of(options({}));
  ExecArray envp;
  envp.add_all(entries);
  char* const no_words[] = {nullptr};
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null_fd = ::open("/dev/null", O_RDONLY);
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (null_fd < 0 || out_fd < 0 || ::dup2(null_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 ||
        ::dup2(out_fd, 2) < 0) {
      ::_exit(120);
    }
    ::execve(KESTRUM_HOOK_BIN, no_words, envp.get());
    ::_exit(121);
  }
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_file(out), "");
}

std::string no_decision_deny() {
  return line(dump_compact(Json{{"hookSpecificOutput",
                                 {{"hookEventName", "PreToolUse"},
                                  {"permissionDecision", "deny"},
                                  {"permissionDecisionReason", std::string(kNoDecisionText)}}}}));
}

// A signal while the app is asked answers as for an unreachable app, the remote marker read
// in that moment; once the app has put the call on hold for a person, it denies, as every
// other end of that wait without a decision does.
TEST_F(HostileFiles, ASignalWhileTheAppIsAskedGivesTheAnswerOfThatMoment) {
  enum class Moment { Asking, Holding };
  enum class Marker { Before, None, DuringTheWait };
  struct Case {
    int signal;
    Moment moment;
    Marker marker;
  };
  const Case cases[] = {{SIGTERM, Moment::Asking, Marker::Before},
                        {SIGINT, Moment::Asking, Marker::None},
                        {SIGHUP, Moment::Asking, Marker::DuringTheWait},
                        {SIGTERM, Moment::Holding, Marker::Before},
                        {SIGQUIT, Moment::Holding, Marker::None}};
  const fs::path marker = layout_.remote_marker(std::string(kSession));
  std::size_t seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "signal " << c.signal << " moment " << static_cast<int>(c.moment) << " marker "
                 << static_cast<int>(c.marker));
    if (c.moment == Moment::Asking) {
      app_.on("policy_check", Reply::silence());
    } else {
      app_.on("policy_check", Reply::result({{"decision", "hold"}, {"perm_id", "p1"}}));
      app_.on("policy_wait", Reply::silence());
    }
    fs::remove(marker);
    if (c.marker == Marker::Before) write_file(marker, "");
    BackgroundProcess hook_process(KESTRUM_HOOK_BIN, options({"PreToolUse"}), scratch_.path());
    hook_process.write_input(event_json());
    hook_process.close_input();
    // The greeting and the check (and the wait) have arrived: the hook is waiting.
    seen += c.moment == Moment::Asking ? 2 : 3;
    ASSERT_TRUE(app_.wait_for_messages(seen, 10s))
        << Json(app_.messages()).dump() << hook_process.err();
    if (c.marker == Marker::DuringTheWait) write_file(marker, "");
    hook_process.send_signal(c.signal);
    const auto r = hook_process.wait(10s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->signal, 0);
    if (c.moment == Moment::Holding) {
      EXPECT_EQ(r->status, 0);
      EXPECT_EQ(hook_process.out(), no_decision_deny());
      EXPECT_EQ(hook_process.err(), "");
    } else if (c.marker != Marker::None) {
      EXPECT_EQ(r->status, 2);
      EXPECT_EQ(hook_process.out(), "");
      EXPECT_EQ(hook_process.err(), line(kOnHoldText));
    } else {
      EXPECT_EQ(r->status, 0);
      EXPECT_EQ(hook_process.out(), "");
      EXPECT_EQ(hook_process.err(), "");
    }
  }
}

// The hook's standard output is the caller's: an answer larger than a pipe holds is written
// whole to a reader that is slow, even through a descriptor inherited non-blocking; and a
// reader that takes nothing cannot keep the hook from ending on a signal, with the status
// it decided.
TEST_F(HostileFiles, TheAnswerIsWrittenWholeAndItsWriteEndsOnASignal) {
  const std::string reason(200 * 1024, 'r');
  app_.on("policy_check", Reply::result({{"decision", "deny"}, {"reason", reason}}));
  for (const bool reader_reads : {true, false}) {
    SCOPED_TRACE(reader_reads ? "slow reader, non-blocking output" : "reader that never reads");
    TestPipe out = make_test_pipe();
    if (reader_reads) {
      ASSERT_EQ(::fcntl(out.write.get(), F_SETFL, ::fcntl(out.write.get(), F_GETFL) | O_NONBLOCK),
                0);
    }
    RunOptions run = options({"PreToolUse"});
    ExecImage image(KESTRUM_HOOK_BIN, run);
    const fs::path input = scratch_.path() / "event";
    write_file(input, event_json());
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int in = ::open(input.c_str(), O_RDONLY);
      if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out.write.get(), 1) < 0) ::_exit(120);
      ::execve(image.argv.get()[0], image.argv.get(), image.envp.get());
      ::_exit(121);
    }
    out.write.reset();
    std::this_thread::sleep_for(500ms);
    if (!reader_reads) ::kill(pid, SIGTERM);
    std::string answer;
    if (reader_reads) read_up_to(out.read.get(), 1 << 20, answer);
    int status = 0;
    const bool ended = eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 10s);
    if (!ended) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    EXPECT_TRUE(ended);
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    if (reader_reads) {
      ASSERT_FALSE(answer.empty());
      EXPECT_EQ(answer.back(), '\n');
      EXPECT_TRUE(Json::accept(answer)) << answer.size() << " bytes";
    }
  }
}

// Before the event is even read, nothing is known but that the call must not run. Any
// signal that would end the hook (not only SIGTERM), and a crash, are answered the same way,
// outside the sanitizers, which report crashes themselves.
TEST_F(HostileFiles, ASignalOrACrashWhileTheEventIsReadHoldsTheCall) {
  struct Case {
    const char* event;
    int signal;
  };
  std::vector<Case> cases = {{"PreToolUse", SIGTERM},
                             {"ConfigChange", SIGTERM},
                             {"PreToolUse", SIGQUIT},
                             {"ConfigChange", SIGXCPU}};
#if !defined(KESTRUM_SANITIZED)
  cases.push_back({"PreToolUse", SIGSEGV});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.event << " signal " << c.signal);
    BackgroundProcess hook_process(KESTRUM_HOOK_BIN, options({c.event}), scratch_.path());
    // More than a pipe holds: once written, the hook is reading its input.
    hook_process.write_input(std::string(1 << 20, ' '));
    hook_process.send_signal(c.signal);
    const auto r = hook_process.wait(10s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->signal, 0);
    EXPECT_EQ(r->status, 2);
    EXPECT_EQ(hook_process.out(), "");
    EXPECT_EQ(hook_process.err(), line(kConfigErrorText));
  }
}

}  // namespace
}  // namespace kestrum::testkit
