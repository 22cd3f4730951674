// The status line modes as Claude Code meets them: the built kestrum-hook, real /bin/sh
// commands, real cache and lock files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <thread>
#include <vector>

#include "common/fd_io.hpp"
#include "common/sha256.hpp"
#include "testing/app_double/fake_app.hpp"
#include "testing/process/app_layout.hpp"
#include "testing/process/background.hpp"
#include "testing/process/files.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"
#include "testing/process/waits.hpp"

namespace kestrum::testkit {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kSession = "session-1";

std::string status_for(std::string_view session) {
  return R"({"cwd":"/w","session_id":")" + std::string(session) + R"("})";
}

pid_t pid_in(const fs::path& file) {
  pid_t pid = 0;
  EXPECT_TRUE(eventually([&] { return !read_file(file).empty(); }, 3s)) << file;
  std::ifstream(file) >> pid;
  return pid;
}

class StatuslineTest : public ::testing::Test {
 protected:
  RunResult refresh(const std::string& command, const std::string& input,
                    std::vector<std::string> options = {}) {
    RunOptions run;
    run.args = {"statusline"};
    run.args.insert(run.args.end(), options.begin(), options.end());
    run.input = input;
    run.env = env_;
    if (!command.empty() || set_empty_command_) run.env["KESTRUM_USER_STATUSLINE"] = command;
    return run_program(KESTRUM_HOOK_BIN, run);
  }

  RunResult supervise(const std::string& command, std::vector<std::string> options,
                      const std::string& input = "{}") {
    RunOptions run;
    run.args = {"statusline-user"};
    run.args.insert(run.args.end(), options.begin(), options.end());
    run.input = input;
    run.env = env_;
    run.env["KESTRUM_USER_STATUSLINE"] = command;
    return run_program(KESTRUM_HOOK_BIN, run);
  }

  fs::path session_file(std::string_view suffix, std::string_view session = kSession) const {
    return app_.profile_dir / ("kestrum-status-" + sha256_hex(session) + std::string(suffix));
  }
  fs::path cache() const { return session_file(".out"); }
  fs::path lock() const { return session_file(".lock"); }
  fs::path scratch(const std::string& name) const { return scratch_.path() / name; }

  std::vector<std::string> profile_files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(app_.profile_dir)) {
      if (entry.path().filename() != "remote") names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // A supervisor left running in the background must be done before the files go.
  void TearDown() override {
    EXPECT_TRUE(eventually([&] { return !fs::exists(lock()); }, 12s));
  }

  TempDir home_;
  TempDir scratch_;
  AppLayout app_{home_.path()};
  std::map<std::string, std::string> env_{{"HOME", home_.path().string()},
                                          {"PATH", "/usr/bin:/bin"}};
  bool set_empty_command_ = false;
};

TEST_F(StatuslineTest, AQuickCommandIsShownOnTheFirstRefreshAndCached) {
  const RunResult result = refresh("echo hi", status_for(kSession));
  EXPECT_EQ(result.out, "hi\n");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  EXPECT_LT(result.elapsed, 900ms);
  // The supervisor wrote the cache and released its lock before printing.
  EXPECT_EQ(read_file(cache()), "hi");
  EXPECT_EQ(mode_of(cache()), 0600u);
  EXPECT_EQ(profile_files(), std::vector<std::string>{cache().filename()});
}

// Paths are bytes: a home directory that is not UTF-8 still gets its cache.
TEST(StatuslineHomeTest, HomeThatIsNotUtf8StillCaches) {
  TempDir dir;
  const fs::path home = dir.path() / "h\xFF";
  fs::create_directory(home);
  const AppLayout app(home);
  RunOptions run;
  run.args = {"statusline"};
  run.input = status_for(kSession);
  run.env = {
      {"HOME", home.string()}, {"PATH", "/usr/bin:/bin"}, {"KESTRUM_USER_STATUSLINE", "echo hi"}};
  EXPECT_EQ(run_program(KESTRUM_HOOK_BIN, run).out, "hi\n");
  const fs::path cache = app.profile_dir / ("kestrum-status-" + sha256_hex(kSession) + ".out");
  EXPECT_TRUE(eventually([&] { return read_file(cache) == "hi"; }, 5s));
}

TEST_F(StatuslineTest, ASlowCommandShowsThePreviousOutputUntilItsSupervisorReplacesIt) {
  write_file(cache(), "old");
  const std::string command = "echo run >> " + scratch("runs").string() + "; sleep 2; echo new";
  const RunResult first = refresh(command, status_for(kSession));
  EXPECT_EQ(first.out, "old\n");
  EXPECT_GE(first.elapsed, 900ms);
  EXPECT_LT(first.elapsed, 2s);

  // The supervisor goes on in the background, holding a private lock with its id.
  ASSERT_TRUE(fs::exists(lock()));
  EXPECT_EQ(mode_of(lock()), 0600u);
  EXPECT_FALSE(process_gone(std::stoi(read_file(lock()))));
  const RunResult second = refresh(command, status_for(kSession));
  EXPECT_EQ(second.out, "old\n");
  EXPECT_LT(second.elapsed, 800ms);  // nothing to wait for: the cache answers

  ASSERT_TRUE(eventually([&] { return !fs::exists(lock()); }, 8s));
  EXPECT_EQ(read_file(cache()), "new");
  EXPECT_EQ(read_file(scratch("runs")), "run\n");  // one run for both refreshes
  EXPECT_EQ(profile_files(), std::vector<std::string>{cache().filename()});
  EXPECT_EQ(refresh(command, status_for(kSession)).out, "new\n");
}

TEST_F(StatuslineTest, AFreshLockOfAnotherSupervisorLeavesTheCacheToAnswer) {
  write_file(cache(), "cached");
  write_file(lock(), "999999");
  const RunResult result = refresh("touch " + scratch("ran").string(), status_for(kSession));
  EXPECT_EQ(result.out, "cached\n");
  EXPECT_LT(result.elapsed, 800ms);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(fs::exists(scratch("ran")));
  EXPECT_EQ(read_file(lock()), "999999");
  fs::remove(lock());
}

TEST_F(StatuslineTest, AStaleLockIsReplacedAndRemovedAtTheEnd) {
  write_file(lock(), "999999");
  age_file(lock(), 20);
  EXPECT_EQ(refresh("echo fresh", status_for(kSession)).out, "fresh\n");
  EXPECT_FALSE(fs::exists(lock()));
  EXPECT_EQ(read_file(cache()), "fresh");
}

TEST_F(StatuslineTest, ALockRewrittenByAnotherProcessIsLeftInPlace) {
  const RunResult result =
      refresh("printf other > '" + lock().string() + "'; echo done", status_for(kSession));
  EXPECT_EQ(result.out, "done\n");
  EXPECT_EQ(read_file(lock()), "other");
  fs::remove(lock());
}

TEST_F(StatuslineTest, OutputIsCutAt65536BytesAndLoosesTrailingLineEnds) {
  const RunResult big = refresh("head -c 70000 /dev/zero | tr '\\0' a", status_for(kSession));
  EXPECT_EQ(big.out, std::string(65536, 'a') + "\n");
  EXPECT_EQ(read_file(cache()).size(), 65536u);

  EXPECT_EQ(refresh("printf 'a\\r\\n\\r\\n'", status_for(kSession)).out, "a\n");
  EXPECT_EQ(read_file(cache()), "a");
  // Only line ends: nothing new, so the cache answers and keeps its content.
  EXPECT_EQ(refresh("printf '\\n\\r\\n'", status_for(kSession)).out, "a\n");
  EXPECT_EQ(read_file(cache()), "a");
}

TEST_F(StatuslineTest, ACacheFileLargerThan65536BytesIsReadInPart) {
  write_file(cache(), std::string(65535, 'c') + "\r\n" + std::string(100, 'd'));
  write_file(lock(), "999999");
  EXPECT_EQ(refresh("echo unused", status_for(kSession)).out, std::string(65535, 'c') + "\n");
  fs::remove(lock());
}

TEST_F(StatuslineTest, WithoutAUserCommandNothingIsShownOrStarted) {
  for (const char* command : {"", "   ", " \t\u3000"}) {
    set_empty_command_ = std::string_view(command).empty();
    const RunResult result = refresh(command, status_for(kSession));
    EXPECT_EQ(result.out, "") << '"' << command << '"';
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  set_empty_command_ = false;
  EXPECT_EQ(refresh("", status_for(kSession)).out, "");  // unset
  EXPECT_TRUE(profile_files().empty());
}

TEST_F(StatuslineTest, TheRefreshEndsNearItsWindowWhateverTheCommandDoes) {
  env_["KESTRUM_STATUSLINE_CAP_MS"] = "1500";  // bounds the supervisor left behind
  const RunResult with_session = refresh("sleep 5", status_for(kSession));
  EXPECT_EQ(with_session.out, "");
  EXPECT_GE(with_session.elapsed, 900ms);
  EXPECT_LT(with_session.elapsed, 2s);

  const RunResult direct =
      refresh("echo $$ > " + scratch("pid").string() + "; sleep 5", "not json");
  EXPECT_EQ(direct.out, "");
  EXPECT_GE(direct.elapsed, 900ms);
  EXPECT_LT(direct.elapsed, 2s);
  EXPECT_TRUE(process_gone(pid_in(scratch("pid"))));
}

TEST_F(StatuslineTest, WithoutASessionTheCommandRunsDirectlyOnTheSameBytes) {
  for (const std::string input :
       {"not json", "[1,2]", R"({"session_id":5})", R"({"session_id":""})", ""}) {
    const RunResult result = refresh("cat; echo :end", input);
    EXPECT_EQ(result.out, input + ":end\n") << input;
    EXPECT_LT(result.elapsed, 900ms);
  }
  // A profile that cannot be used leaves the session unknown too.
  EXPECT_EQ(refresh("echo direct", status_for(kSession), {"--profile", "Bad"}).out, "direct\n");
  env_.erase("HOME");
  EXPECT_EQ(refresh("echo direct", status_for(kSession)).out, "direct\n");
  EXPECT_TRUE(profile_files().empty());
}

TEST_F(StatuslineTest, TheProfileOptionChoosesWhereTheCacheLies) {
  const AppLayout work(home_.path(), "work");
  EXPECT_EQ(refresh("echo w", status_for(kSession), {"--profile=work"}).out, "w\n");
  EXPECT_EQ(read_file(work.profile_dir / cache().filename()), "w");
  EXPECT_TRUE(profile_files().empty());
}

TEST_F(StatuslineTest, HostileCommandsAndInputStillEndWithinTheWindow) {
  // Far more than a pipe holds, for a command that closes its input at once.
  const RunResult closed_early = refresh("exec 0<&-; echo ok", std::string(2 << 20, 'x'));
  EXPECT_EQ(closed_early.out, "ok\n");
  EXPECT_LT(closed_early.elapsed, 2s);

  // Beyond what the entry reads; the unread rest meets a closed pipe on this side.
  // Parsing is part of the window, which a sanitized build may use up before the command
  // has had its turn.
  const RunResult huge = refresh("echo ok", std::string(9 << 20, ' '));
  EXPECT_EQ(huge.status, 0);
  EXPECT_LT(huge.elapsed, 10s);
#if !defined(KESTRUM_SANITIZED)
  EXPECT_EQ(huge.out, "ok\n");
#endif

  EXPECT_EQ(refresh("printf '\\377\\376ok'", "x").out, "\uFFFD\uFFFDok\n");

  // Leaves a child holding the output pipe: shown at the window's end, child killed.
  const RunResult forked =
      refresh("sleep 30 & echo $! > " + scratch("child").string() + "; echo started", "x");
  EXPECT_EQ(forked.out, "started\n");
  EXPECT_GE(forked.elapsed, 900ms);
  EXPECT_LT(forked.elapsed, 2s);
  EXPECT_TRUE(eventually([&] { return process_gone(pid_in(scratch("child"))); }, 3s));

  const std::string deep(100000, '[');
  EXPECT_EQ(refresh("echo deep", deep).out, "deep\n");
}

class SupervisorTest : public StatuslineTest {
 protected:
  std::vector<std::string> files() const {
    return {"--out", cache().string(), "--lock", lock().string()};
  }
};

TEST_F(SupervisorTest, CachesPrintsAndReleases) {
  const RunResult result = supervise("echo out; exit 3", files());
  EXPECT_EQ(result.out, "out\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_file(cache()), "out");
  EXPECT_EQ(profile_files(), std::vector<std::string>{cache().filename()});
}

// What the supervisor inherits does not cost the output: under a file-size limit its writes
// fail as on a full disk, and a SIGCHLD set to be ignored still lets it wait for its command.
TEST_F(SupervisorTest, InheritedLimitsAndDispositionsDoNotCostTheOutput) {
  using Inherit = void (*)();
  std::vector<Inherit> inherited = {[] { ::signal(SIGCHLD, SIG_IGN); }};
  // ThreadSanitizer's runtime writes a file before main and dies of a zero file-size limit.
#if !defined(KESTRUM_SANITIZED)
  inherited.push_back([] {
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_FSIZE, &none);
  });
#endif
  RunOptions run;
  run.args = {"statusline-user"};
  for (const std::string& word : files()) run.args.push_back(word);
  run.env = env_;
  run.env["KESTRUM_USER_STATUSLINE"] = "echo out";
  const ExecImage image(KESTRUM_HOOK_BIN, run);
  for (const Inherit inherit : inherited) {
    TestPipe out = make_test_pipe();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int in = ::open("/dev/null", O_RDONLY);
      if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out.write.get(), 1) < 0) ::_exit(120);
      inherit();
      ::execve(image.argv.get()[0], image.argv.get(), image.envp.get());
      ::_exit(121);
    }
    out.write.reset();
    std::string printed;
    read_up_to(out.read.get(), 4096, printed);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(printed, "out\n");
    EXPECT_FALSE(fs::exists(lock()));
  }
  EXPECT_EQ(read_file(cache()), "out");
}

TEST_F(SupervisorTest, ACommandOutlivingTheCapIsKilledWithItsGroup) {
  write_file(cache(), "old");
  env_["KESTRUM_STATUSLINE_CAP_MS"] = "+500";
  const RunResult result =
      supervise("echo $$ > " + scratch("pid").string() + "; echo partial; sleep 30", files());
  EXPECT_EQ(result.out, "");
  EXPECT_GE(result.elapsed, 450ms);
  EXPECT_LT(result.elapsed, 3s);
  EXPECT_TRUE(process_gone(pid_in(scratch("pid"))));
  EXPECT_EQ(read_file(cache()), "old");
  EXPECT_FALSE(fs::exists(lock()));
}

TEST_F(SupervisorTest, ABackgroundGrandchildHoldingTheOutputIsKilledAtTheCap) {
  env_["KESTRUM_STATUSLINE_CAP_MS"] = "500";
  const RunResult result =
      supervise("echo word; sleep 30 & echo $! > " + scratch("pid").string(), files());
  EXPECT_EQ(result.out, "word\n");
  EXPECT_GE(result.elapsed, 450ms);
  EXPECT_LT(result.elapsed, 3s);
  EXPECT_TRUE(eventually([&] { return process_gone(pid_in(scratch("pid"))); }, 3s));
  EXPECT_EQ(read_file(cache()), "word");
}

// A signal ends the run as before, but the command under the cap (or the window) and the
// lock go with it.
TEST_F(SupervisorTest, ASignalledRunTakesItsCommandAndLockWithIt) {
  std::vector<std::string> supervisor = files();
  supervisor.insert(supervisor.begin(), "statusline-user");
  struct Case {
    std::vector<std::string> args;
    int signal;
  };
  // Not only the usual three: any signal that would end the process (none that dumps core).
  for (const Case& c :
       {Case{supervisor, SIGTERM}, Case{supervisor, SIGINT}, Case{supervisor, SIGHUP},
        Case{supervisor, SIGUSR1}, Case{{"statusline"}, SIGTERM}, Case{{"statusline"}, SIGALRM}}) {
    SCOPED_TRACE(c.args.front() + " " + std::to_string(c.signal));
    fs::remove(scratch("pid"));
    RunOptions run;
    run.args = c.args;
    run.env = env_;
    run.env["KESTRUM_USER_STATUSLINE"] = "echo $$ > " + scratch("pid").string() + "; sleep 30";
    BackgroundProcess hook_process(KESTRUM_HOOK_BIN, run, scratch_.path());
    hook_process.close_input();
    const pid_t command = pid_in(scratch("pid"));
    EXPECT_EQ(fs::exists(lock()), c.args == supervisor);
    hook_process.send_signal(c.signal);
    const auto r = hook_process.wait(10s);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->signal, c.signal);
    EXPECT_TRUE(eventually([&] { return process_gone(command); }, 3s));
    EXPECT_FALSE(fs::exists(lock()));
  }
}

TEST_F(SupervisorTest, ACapOfZeroGivesTheCommandNoTime) {
  write_file(cache(), "old");
  env_["KESTRUM_STATUSLINE_CAP_MS"] = "0";
  const RunResult result = supervise("sleep 1; echo late", files());
  EXPECT_EQ(result.out, "");
  EXPECT_LT(result.elapsed, 900ms);
  EXPECT_EQ(read_file(cache()), "old");
}

TEST_F(SupervisorTest, OptionsMayBeMissingOrLackAValue) {
  EXPECT_EQ(supervise("echo a", {}).out, "a\n");
  EXPECT_EQ(supervise("echo b", {"--out", cache().string(), "--out", "/elsewhere", "--lock"}).out,
            "b\n");
  EXPECT_EQ(read_file(cache()), "b");
  fs::remove(cache());
  EXPECT_EQ(supervise("echo c", {"--lock", lock().string()}).out, "c\n");
  EXPECT_TRUE(profile_files().empty());
}

TEST_F(SupervisorTest, AFreshLockHeldElsewhereRunsNothing) {
  write_file(lock(), "999999");
  const RunResult result = supervise("touch " + scratch("ran").string() + "; echo x", files());
  EXPECT_EQ(result.out, "");
  EXPECT_FALSE(fs::exists(scratch("ran")));
  EXPECT_FALSE(fs::exists(cache()));
  EXPECT_EQ(read_file(lock()), "999999");
  fs::remove(lock());
}

// Starts the supervisor with a known process id: `before_exec` runs once the id is known
// and before the program begins.
RunResult supervise_with_known_pid(const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env,
                                   const std::function<void(pid_t)>& before_exec) {
  int gate[2], out[2];
  if (::pipe(gate) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> argv_s{KESTRUM_HOOK_BIN, "statusline-user"};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<std::string> env_s;
  for (const auto& [name, value] : env) env_s.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (auto& s : argv_s) argv.push_back(s.data());
  for (auto& s : env_s) envp.push_back(s.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    char go = 0;
    ::close(gate[1]);
    ::close(out[0]);
    if (::read(gate[0], &go, 1) != 1) ::_exit(120);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, 0);
    ::dup2(out[1], 1);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(121);
  }
  ::close(gate[0]);
  ::close(out[1]);
  before_exec(pid);
  (void)!::write(gate[1], "g", 1);
  ::close(gate[1]);
  RunResult result;
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) {
    result.out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST_F(SupervisorTest, ALinkPlantedAtTheTemporaryNameIsNotFollowed) {
  write_file(cache(), "old");
  write_file(scratch("victim"), "precious");
  std::map<std::string, std::string> env = env_;
  env["KESTRUM_USER_STATUSLINE"] = "echo new";
  fs::path temporary;
  const RunResult result = supervise_with_known_pid(files(), env, [&](pid_t pid) {
    temporary = cache().string() + "." + std::to_string(pid);
    fs::create_symlink(scratch("victim"), temporary);
  });
  EXPECT_EQ(result.out, "new\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(read_file(scratch("victim")), "precious");
  EXPECT_EQ(read_file(cache()), "old");
  EXPECT_FALSE(fs::exists(fs::symlink_status(temporary)));
  EXPECT_EQ(profile_files(), std::vector<std::string>{cache().filename()});
}

class UsageReportTest : public StatuslineTest {
 protected:
  void SetUp() override { app_.write_token("  tok\n"); }

  static std::string status_with_figures(std::string_view session = kSession) {
    return R"({"context_window":{"context_window_size":200000,"total_input_tokens":12,)"
           R"("total_output_tokens":3,"used_percentage":12},"cost":{"total_cost_usd":0,)"
           R"("total_lines_added":4,"total_lines_removed":1},"cwd":"/w/proj",)"
           R"("model":{"display_name":"Opus","id":"claude-opus"},"session_id":")" +
           std::string(session) + R"("})";
  }

  // Nothing reaches the app: given time to connect, nobody did.
  void expect_nothing_sent(const FakeApp& app) {
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(app.connections(), 0u);
  }
};

TEST_F(UsageReportTest, SendsTheFiguresAsANotificationAfterTheHooksGreeting) {
  FakeApp app(app_.socket);
  env_["CLAUDE_CONFIG_DIR"] = "/cfg//";
  env_["KESTRUM_LAUNCH_TOKEN"] = "launch-1";
  const RunResult result = refresh("", status_with_figures());
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.status, 0);
  ASSERT_TRUE(app.wait_for_messages(2, 3s));
  const auto received = app.received();
  const Json& hello = received[0].message;
  EXPECT_EQ(hello["method"], "hello");
  EXPECT_EQ(dump_compact(hello["params"]),
            R"({"config_dir":"/cfg","cwd":"/w/proj","launch_token":"launch-1","pid":)" +
                std::to_string(::getpid()) +
                R"(,"protocol_version":0,"role":"hook","session_id":"session-1","token":"tok"})");
  EXPECT_EQ(received[1].line,
            R"({"jsonrpc":"2.0","method":"usage_report","params":{"config_dir":"/cfg",)"
            R"("context":{"used_pct":12.0,"window":200000},"cost":{"input_tokens":12,)"
            R"("lines_added":4,"lines_removed":1,"output_tokens":3,"usd":0.0},)"
            R"("model":{"id":"claude-opus","name":"Opus"},"session_id":"session-1"}})");
  EXPECT_EQ(received[1].connection, received[0].connection);
  EXPECT_TRUE(app.wait_for_closed(1, 3s));
  EXPECT_FALSE(app.wait_for_messages(3, 100ms));
}

TEST_F(UsageReportTest, TheUserCommandsOutputIsShownBesideTheReport) {
  FakeApp app(app_.socket);
  const RunResult result = refresh("echo shown", status_with_figures());
  EXPECT_EQ(result.out, "shown\n");
  ASSERT_TRUE(app.wait_for_messages(2, 3s));
  EXPECT_EQ(app.messages()[1]["params"]["config_dir"], (home_.path() / ".claude").string());
}

TEST_F(UsageReportTest, NothingIsSentWithoutASessionFiguresOrAToken) {
  FakeApp app(app_.socket);
  refresh("", R"({"context_window":{"context_window_size":1}})");
  refresh("", R"({"context_window":{"context_window_size":1},"session_id":""})");
  refresh("", "not json");
  refresh("", R"({"cwd":"/w","session_id":"s","rate_limits":{"five_hour":{"resets_at":1.5,)"
              R"("used_percentage":1}},"model":{"id":"\u200b"}})");
  refresh("", status_with_figures(), {"--profile", "Bad"});
  fs::remove(app_.token);
  refresh("", status_with_figures());
  app_.write_token(" \n");
  refresh("echo direct", status_with_figures());
  expect_nothing_sent(app);
}

TEST_F(UsageReportTest, AStallingAppCostsAboutTheReportLimit) {
  FakeApp app(app_.socket);
  app.on("hello", Reply::silence());
  const RunResult quiet = refresh("", status_with_figures());
  EXPECT_EQ(quiet.status, 0);
  EXPECT_GE(quiet.elapsed, 250ms);
  EXPECT_LT(quiet.elapsed, 1s);

  const RunResult shown = refresh("echo hi", status_with_figures());
  EXPECT_EQ(shown.out, "hi\n");
  EXPECT_LT(shown.elapsed, 1200ms);
}

TEST_F(UsageReportTest, AnUnreachableAppChangesNothing) {
  {
    FullListener full(app_.socket);  // a connect that never completes
    const RunResult stalled = refresh("echo hi", status_with_figures());
    EXPECT_EQ(stalled.out, "hi\n");
    EXPECT_LT(stalled.elapsed, 1800ms);  // never the ordinary 2 s
  }
  const RunResult absent = refresh("echo hi", status_with_figures());
  EXPECT_EQ(absent.out, "hi\n");
  EXPECT_LT(absent.elapsed, 1800ms);
}

}  // namespace
}  // namespace kestrum::testkit
