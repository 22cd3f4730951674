// kestrum-cli as the user runs it: a stand-in `claude` on PATH records what it was
// started with, so each test sees the words, environment and process id it got.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/json.hpp"
#include "testing/app_double/fake_app.hpp"
#include "testing/process/app_layout.hpp"
#include "testing/process/files.hpp"
#include "testing/process/other_user.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using testkit::AppLayout;
using testkit::FakeApp;
using testkit::read_file;
using testkit::Reply;
using testkit::RunOptions;
using testkit::RunResult;
using testkit::TempDir;
using testkit::write_file;
using Words = std::vector<std::string>;

constexpr std::string_view kUsage = "kestrum: 쓰는 법 — kestrum claude [claude 인자…]\n";
constexpr std::string_view kNotFound =
    "kestrum: 이 기기에 Claude Code 가 없어요. 설치한 뒤 다시 해 주세요\n";

std::string refusal(std::string_view text) {
  return "kestrum: '" + std::string(text) +
         "' 는 kestrum claude 에서 쓸 수 없어요 — kestrum 의 보호(설정·회신 도구·권한 모드)를 "
         "끕니다\n";
}

std::string notice(std::string_view reason) {
  return "kestrum: kestrum 없이 띄웁니다 — 동료에게 보이지 않아요(" + std::string(reason) + ")\n";
}

std::string script_of(const std::vector<std::string>& lines) {
  std::string script;
  for (const std::string& line : lines) script += line + "\n";
  return script;
}

std::vector<std::string> split_nul(const std::string& bytes) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1) {
    parts.push_back(bytes.substr(start, end - start));
  }
  return parts;
}

// What the stand-in `claude` wrote about itself.
struct Started {
  std::string argv0;
  Words args;
  std::map<std::string, std::string> env;
  long pid = 0;
  long ppid = 0;
};

class Launcher : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = root_.path() / "home";
    bin_ = root_.path() / "bin";
    record_ = root_.path() / "record";
    fs::create_directories(home_);
    fs::create_directories(bin_);
    // exec keeps the process: its id, parent, descriptors and ignored signals are claude's.
    install_claude(script_of({
        "#!/bin/sh",
        "exec '" + std::string(KESTRUM_START_REPORTER_BIN) + "' " + recorded_dir() +
            " \"$0\" \"$@\"",
    }));
    fs::create_directories(record_);
    env_ = {{"HOME", home_.string()}, {"PATH", bin_.string() + ":/usr/bin:/bin"}};
  }

  std::string recorded_dir() const { return "'" + record_.string() + "'"; }

  void install_claude(const std::string& content) {
    write_file(bin_ / "claude", content);
    fs::permissions(bin_ / "claude", fs::perms::owner_all);
  }

  RunResult run(const Words& args) {
    RunOptions options;
    options.args = args;
    options.env = env_;
    options.cwd = root_.path();
    options.timeout = 30s;
    return testkit::run_program(KESTRUM_CLI_BIN, options);
  }

  // What the stand-in records when started directly, without kestrum-cli.
  std::string recorded_without_launcher(const char* name) {
    RunOptions options;
    options.env = env_;
    testkit::run_program(bin_ / "claude", options);
    return read_file(record_ / name);
  }

  bool claude_started() const { return fs::exists(record_ / "pid"); }

  Started started() const {
    Started s;
    const Words argv = split_nul(read_file(record_ / "args"));
    if (!argv.empty()) {
      s.argv0 = argv.front();
      s.args.assign(argv.begin() + 1, argv.end());
    }
    for (const std::string& entry : split_nul(read_file(record_ / "env"))) {
      const auto eq = entry.find('=');
      s.env[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
    }
    std::istringstream(read_file(record_ / "pid")) >> s.pid >> s.ppid;
    return s;
  }

  Words started_args() const { return started().args; }

  std::string search_path() const {
    const std::string h = home_.string();
    return bin_.string() + ":/usr/bin:/bin:" + h + "/.local/bin:" + h + "/.claude/local:" + h +
           "/.npm-global/bin:" + h + "/.bun/bin:/opt/homebrew/bin:/usr/local/bin";
  }

  TempDir root_;
  fs::path home_, bin_, record_;
  std::map<std::string, std::string> env_;
};

TEST_F(Launcher, VersionLine) {
  const RunResult r = run({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "kestrum-cli 0.1.0\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(Launcher, UsageErrorsStartNothing) {
  for (const Words& args :
       {Words{}, Words{"--version", "claude"}, Words{"--profile"}, Words{"--profile", "a"},
        Words{"--profile", "claude"}, Words{"--profile=work", "claude"}, Words{"Claude"},
        Words{"--data-dir", "/tmp"}, Words{"help"}}) {
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(r.err, kUsage) << ::testing::PrintToString(args);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(claude_started());
}

TEST_F(Launcher, WordsThatAreNotUtf8AreAUsageError) {
  for (const Words& args : {Words{"claude", "--model", "\xff"}, Words{"\xc3", "claude"},
                            Words{"--profile", "a\x80", "claude"}}) {
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, kUsage);
  }
  EXPECT_FALSE(claude_started());
}

TEST_F(Launcher, RefusedWordsStartNothing) {
  struct Case {
    Words args;
    std::string refused;
  };
  for (const Case& c :
       {Case{{"claude", "-p", "hello"}, "-p"}, Case{{"claude", "--settings=/x.json"}, "--settings"},
        Case{{"claude", "--model", "opus", "--dangerously-skip-permissions"},
             "--dangerously-skip-permissions"},
        Case{{"claude", "--permission-mode", "bypassPermissions"},
             "--permission-mode bypassPermissions"},
        Case{{"claude", "--resume"}, "--resume"},
        Case{{"--profile", "work", "claude", "-c"}, "-c"}}) {
    const RunResult r = run(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, refusal(c.refused));
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(claude_started());
}

TEST_F(Launcher, MissingClaudeExitsWith127) {
  if (fs::exists("/usr/local/bin/claude") || fs::exists("/opt/homebrew/bin/claude")) {
    GTEST_SKIP() << "this machine has a claude in a fallback directory";
  }
  fs::remove(bin_ / "claude");
  // Neither a relative entry nor a non-executable file counts.
  fs::create_directories(root_.path() / "rel");
  write_file(root_.path() / "rel" / "claude", "#!/bin/sh\n");
  fs::permissions(root_.path() / "rel" / "claude", fs::perms::owner_all);
  write_file(bin_ / "claude", "#!/bin/sh\n");
  fs::permissions(bin_ / "claude", fs::perms::owner_read);
  env_["PATH"] = "rel:" + bin_.string();
  RunOptions options;
  options.args = {"claude"};
  options.env = env_;
  options.cwd = root_.path();
  const RunResult r = testkit::run_program(KESTRUM_CLI_BIN, options);
  EXPECT_EQ(r.status, 127);
  EXPECT_EQ(r.err, kNotFound);
}

TEST_F(Launcher, FailedExecExitsWith126) {
  struct Case {
    std::string content;
    std::string error;
  };
  for (const Case& c :
       {Case{"#!/nonexistent/interpreter\n", "No such file or directory (os error 2)"}}) {
    install_claude(c.content);
    const RunResult r = run({"claude"});
    EXPECT_EQ(r.status, 126);
    EXPECT_EQ(r.err, notice("앱이 켜져 있지 않다") +
                         "kestrum: claude 를 띄우지 못했어요: " + c.error + "\n");
  }
}

// Without a "#!" line the file is a shell's, as execvp runs it, and still in this process.
TEST_F(Launcher, AClaudeWithoutAnInterpreterLineRunsThroughTheShell) {
  install_claude("exec '" + std::string(KESTRUM_START_REPORTER_BIN) + "' " + recorded_dir() +
                 " \"$0\" \"$@\"\n");
  const RunResult r = run({"claude", "--model", "x"});
  EXPECT_EQ(r.status, 42);
  ASSERT_TRUE(claude_started());
  const Started s = started();
  EXPECT_EQ(s.argv0, (bin_ / "claude").string());
  EXPECT_EQ(s.args, (Words{"--model", "x"}));
  EXPECT_EQ(s.ppid, ::getpid());
}

TEST_F(Launcher, WithoutTheAppClaudeGetsTheTypedWordsAndACleanEnvironment) {
  env_["KESTRUM_SOCKET"] = "/elsewhere.sock";
  env_["KESTRUM_LAUNCH_TOKEN"] = "stale";
  env_["KESTRUM_"] = "x";
  env_["KESTRUM"] = "stays";
  env_["CLAUDE_CONFIG_DIR"] = "/mine";
  env_["OTHER"] = "a=b";
  const Words typed{"--permission-mode", "plan", "--resume", "abc", "--model", "x", "--", "-p"};
  Words args{"claude"};
  args.insert(args.end(), typed.begin(), typed.end());

  const RunResult r = run(args);
  EXPECT_EQ(r.status, 42);  // Claude Code's own
  EXPECT_EQ(r.err, notice("앱이 켜져 있지 않다"));
  ASSERT_TRUE(claude_started());
  const Started s = started();
  EXPECT_EQ(s.argv0, (bin_ / "claude").string());
  EXPECT_EQ(s.args, typed);
  EXPECT_EQ(s.env.at("PATH"), search_path());
  EXPECT_EQ(s.env.at("KESTRUM"), "stays");
  EXPECT_EQ(s.env.at("CLAUDE_CONFIG_DIR"), "/mine");
  EXPECT_EQ(s.env.at("OTHER"), "a=b");
  EXPECT_EQ(s.env.at("HOME"), home_.string());
  for (const auto& [name, value] : s.env) EXPECT_FALSE(name.starts_with("KESTRUM_")) << name;
  // No process in between: claude's parent is whoever started kestrum-cli.
  EXPECT_EQ(s.ppid, ::getpid());
  // Nothing of the launcher's own reaches Claude Code: no descriptor, no ignored SIGPIPE.
  const std::string descriptors = read_file(record_ / "fds");
  const std::string ignored_signals = read_file(record_ / "sigign");
  EXPECT_EQ(descriptors, recorded_without_launcher("fds"));
  EXPECT_EQ(ignored_signals, recorded_without_launcher("sigign"));
}

TEST_F(Launcher, RegistrationFailuresNameTheirReason) {
  struct Case {
    Words leading;
    std::string reason;
  };
  for (const Case& c : {Case{{"--profile", "Work"}, "profile: InvalidProfileName(\"Work\")"},
                        Case{{"--profile", "a", "--profile", "\"x\\"},
                             "profile: InvalidProfileName(\"\\\"x\\\\\")"},
                        Case{{"--data-dir", "--profile"}, "profile: MissingProfileArg"},
                        Case{{}, "앱이 켜져 있지 않다"}}) {
    Words args = c.leading;
    args.insert(args.end(), {"claude", "--verbose"});
    const RunResult r = run(args);
    EXPECT_EQ(r.status, 42);
    EXPECT_EQ(r.err, notice(c.reason));
    EXPECT_THAT(started().args, ElementsAre("--verbose"));
  }
}

TEST_F(Launcher, WithoutHomeClaudeStillStarts) {
  env_.erase("HOME");
  const RunResult r = run({"claude"});
  EXPECT_EQ(r.status, 42);
  EXPECT_EQ(r.err, notice("HOME 이 없다"));
  EXPECT_EQ(started().env.at("PATH"),
            bin_.string() + ":/usr/bin:/bin:/opt/homebrew/bin:/usr/local/bin");
}

TEST_F(Launcher, TooLongSocketPathIsNamedWithItsLength) {
  fs::path deep = home_;
  while (deep.native().size() < 80) deep /= "deeper";
  env_["HOME"] = deep.string();
  const std::string socket =
      deep.string() + "/Library/Application Support/kestrum/run/kestrum.sock";
  const RunResult r = run({"claude"});
  EXPECT_EQ(r.status, 42);
  EXPECT_EQ(r.err, notice("경로: SocketPathTooLong { path: \"" + socket +
                          "\", bytes: " + std::to_string(socket.size()) + " }"));
}

// The app is up: its token file is written and its socket answers.
class LauncherWithApp : public Launcher {
 protected:
  void SetUp() override {
    Launcher::SetUp();
    layout_.emplace(home_);
    layout_->write_token("  tok-1\n");
    app_.emplace(layout_->socket);
  }

  void reply_with(std::string_view reply) {
    app_->on("launch.register", Reply::result(*parse_json(reply)));
  }

  // The "hello" line and the "launch.register" line, as they arrived.
  std::pair<std::string, std::string> registration_lines() const {
    const auto received = app_->received();
    if (received.size() != 2) return {};
    return {received[0].line, received[1].line};
  }

  std::optional<AppLayout> layout_;
  std::optional<FakeApp> app_;
};

TEST_F(LauncherWithApp, RegisteredLaunchRunsUnderTheRegisteredPid) {
  reply_with(R"({"args":["--settings","/app/settings.json","--append-system-prompt","x"],
                 "env":{"KESTRUM_SOCKET":"/app.sock","KESTRUM_LAUNCH_TOKEN":"launch-1",
                        "KESTRUM_DATA_DIR":"/data","KESTRUM_USER_STATUSLINE":"echo hi",
                        "CLAUDE_CONFIG_DIR":"/app/cfg"}})");
  env_["KESTRUM_SOCKET"] = "/stale.sock";
  env_["KESTRUM_STALE"] = "x";
  const RunResult r = run({"claude", "--permission-mode", "manual", "--resume", "abc", "--model",
                           "x", "--", "--resume", "y"});
  EXPECT_EQ(r.status, 42);
  EXPECT_EQ(r.err, "");
  ASSERT_TRUE(claude_started());
  const Started s = started();

  const auto [hello, request] = registration_lines();
  EXPECT_EQ(hello, "{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"hello\",\"params\":{\"pid\":" +
                       std::to_string(s.pid) +
                       ",\"protocol_version\":0,\"role\":\"cli\",\"token\":\"tok-1\"}}");
  EXPECT_EQ(request,
            "{\"id\":2,\"jsonrpc\":\"2.0\",\"method\":\"launch.register\",\"params\":{"
            "\"config_dir\":\"" +
                home_.string() + "/.claude\",\"cwd\":\"" + root_.path().string() +
                "\",\"mode\":\"default\",\"resume\":\"abc\"}}");

  EXPECT_EQ(s.ppid, ::getpid());
  EXPECT_EQ(s.argv0, (bin_ / "claude").string());
  EXPECT_THAT(s.args, ElementsAre("--settings", "/app/settings.json", "--append-system-prompt", "x",
                                  "--model", "x", "--", "--resume", "y"));
  std::map<std::string, std::string> kestrum_vars;
  for (const auto& [name, value] : s.env) {
    if (name.starts_with("KESTRUM_")) kestrum_vars[name] = value;
  }
  EXPECT_EQ(kestrum_vars, (std::map<std::string, std::string>{
                              {"KESTRUM_DATA_DIR", "/data"},
                              {"KESTRUM_LAUNCH_TOKEN", "launch-1"},
                              {"KESTRUM_SOCKET", "/app.sock"},
                              {"KESTRUM_USER_STATUSLINE", "echo hi"},
                          }));
  EXPECT_EQ(s.env.at("CLAUDE_CONFIG_DIR"), "/app/cfg");
  EXPECT_EQ(s.env.at("PATH"), search_path());
  // The registration's socket is closed before Claude Code starts.
  const std::string descriptors = read_file(record_ / "fds");
  EXPECT_EQ(descriptors, recorded_without_launcher("fds"));
}

TEST_F(LauncherWithApp, OnlyAllowListedStringsOfTheReplyReachClaude) {
  reply_with(R"({"args":[],"env":{"PATH":"/evil","HOME":"/evil","LD_PRELOAD":"/x.so",
                 "KESTRUM_SOCKET":7,"KESTRUM_OTHER":"x"}})");
  env_["CLAUDE_CONFIG_DIR"] = "/mine/cfg//";
  env_["KESTRUM_OTHER"] = "mine";
  const RunResult r = run({"claude", "--verbose"});
  EXPECT_EQ(r.err, "");
  const Started s = started();
  EXPECT_THAT(s.args, ElementsAre("--verbose"));
  EXPECT_EQ(s.env.at("PATH"), search_path());
  EXPECT_EQ(s.env.at("HOME"), home_.string());
  EXPECT_EQ(s.env.count("LD_PRELOAD"), 0u);
  EXPECT_EQ(s.env.at("CLAUDE_CONFIG_DIR"), "/mine/cfg//");
  for (const auto& [name, value] : s.env) EXPECT_FALSE(name.starts_with("KESTRUM_")) << name;
  EXPECT_THAT(registration_lines().second, HasSubstr(R"("config_dir":"/mine/cfg")"));
}

TEST_F(LauncherWithApp, ProfileOptionPicksTheProfilesSocket) {
  const AppLayout work(home_, "work");
  work.write_token("tok-work");
  FakeApp work_app(work.socket);
  work_app.on("launch.register", Reply::result(*parse_json(R"({"args":["--from-work"]})")));
  const RunResult r = run({"--profile", "work", "--data-dir", "/ignored", "claude"});
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(started_args(), ElementsAre("--from-work"));
  EXPECT_EQ(app_->connections(), 0u);
  ASSERT_EQ(work_app.messages().size(), 2u);
  EXPECT_EQ(work_app.messages()[0]["params"]["token"], "tok-work");
}

TEST_F(LauncherWithApp, RefusalOrMissingClaudeSendsNothing) {
  EXPECT_EQ(run({"claude", "-p", "hello"}).status, 2);
  EXPECT_EQ(run({"--version"}).status, 0);
  EXPECT_EQ(run({"claude", "\xff"}).status, 2);
  fs::remove(bin_ / "claude");
  if (!fs::exists("/usr/local/bin/claude") && !fs::exists("/opt/homebrew/bin/claude")) {
    EXPECT_EQ(run({"claude"}).status, 127);
  }
  EXPECT_EQ(app_->connections(), 0u);
}

TEST_F(LauncherWithApp, UnusableRepliesLaunchUnregistered) {
  for (const char* reply :
       {"null", R"({"env":{"KESTRUM_SOCKET":"/s"}})",
        R"({"args":["--a",1],"env":{"KESTRUM_SOCKET":"/s"}})", R"({"args":"--a"})", R"(["--a"])"}) {
    reply_with(reply);
    const RunResult r = run({"claude", "--permission-mode", "plan", "x"});
    EXPECT_EQ(r.status, 42) << reply;
    EXPECT_EQ(r.err, notice("앱 응답을 읽지 못했어요")) << reply;
    const Started s = started();
    EXPECT_THAT(s.args, ElementsAre("--permission-mode", "plan", "x")) << reply;
    EXPECT_EQ(s.env.count("KESTRUM_SOCKET"), 0u) << reply;
  }
}

TEST_F(LauncherWithApp, AppFailuresNameTheirKind) {
  struct Case {
    const char* method;
    Reply reply;
    std::string reason;
  };
  for (const Case& c : {Case{"launch.register", Reply::error(), "Protocol"},
                        Case{"launch.register", Reply::line("no json here"), "Protocol"},
                        Case{"hello", Reply::greeting(1u), "Protocol"},
                        Case{"launch.register", Reply::close(), "Io"}}) {
    app_->on("hello", Reply::greeting());
    app_->on("launch.register", Reply::result(nullptr));
    app_->on(c.method, c.reply);
    const RunResult r = run({"claude", "--resume", "abc"});
    EXPECT_EQ(r.status, 42);
    EXPECT_EQ(r.err, notice(c.reason));
    EXPECT_THAT(started_args(), ElementsAre("--resume", "abc"));
  }
}

TEST_F(LauncherWithApp, TokenWithoutAListenerIsAConnectFailure) {
  app_.reset();  // removes the socket file
  const RunResult r = run({"claude"});
  EXPECT_EQ(r.status, 42);
  EXPECT_EQ(r.err, notice("Connect"));
}

TEST_F(LauncherWithApp, AnotherUsersListenerGetsNoTokenAndClaudeStartsUnregistered) {
  if (!testkit::can_act_as_other_user()) GTEST_SKIP() << "needs root to listen as another user";
  app_.reset();
  testkit::open_to_everyone(root_.path(), layout_->run_dir);
  FakeApp other(layout_->socket, testkit::kOtherUser);
  other.on("launch.register",
           Reply::result(*parse_json(R"({"args":["--dangerously-skip-permissions"],
                                         "env":{"KESTRUM_USER_STATUSLINE":"id"}})")));
  const RunResult r = run({"claude", "x"});
  EXPECT_EQ(r.status, 42);
  EXPECT_EQ(r.err, notice("Connect"));
  EXPECT_THAT(started_args(), ElementsAre("x"));
  EXPECT_EQ(started().env.count("KESTRUM_USER_STATUSLINE"), 0u);
  EXPECT_TRUE(other.messages().empty()) << "the token reached another user";
}

TEST_F(LauncherWithApp, BlankTokenMeansTheAppIsNotRunning) {
  layout_->write_token(" \n\t\n");
  const RunResult r = run({"claude"});
  EXPECT_EQ(r.err, notice("앱이 켜져 있지 않다"));
  EXPECT_EQ(app_->connections(), 0u);
}

TEST_F(LauncherWithApp, SilentAppIsGivenUpAfterTenSeconds) {
  app_->on("hello", Reply::silence());
  const RunResult r = run({"claude", "x"});
  EXPECT_EQ(r.status, 42);
  EXPECT_EQ(r.err, notice("Timeout"));
  EXPECT_THAT(started_args(), ElementsAre("x"));
  EXPECT_GE(r.elapsed, 9s);
  EXPECT_LT(r.elapsed, 14s);
}

TEST_F(LauncherWithApp, RemovedWorkingDirectoryRegistersAnEmptyCwd) {
  reply_with(R"({"args":[]})");
  const fs::path gone = root_.path() / "gone";
  fs::create_directories(gone);
  RunOptions options;
  options.args = {"-c", "cd \"$1\" && rmdir \"$1\" && exec \"$0\" claude", KESTRUM_CLI_BIN,
                  gone.string()};
  options.env = env_;
  const RunResult r = testkit::run_program("/bin/sh", options);
  EXPECT_EQ(r.status, 42);
  EXPECT_THAT(r.err, Not(HasSubstr("kestrum")));  // the stand-in's shell may complain
  ASSERT_EQ(app_->messages().size(), 2u);
  EXPECT_EQ(app_->messages()[1]["params"]["cwd"], "");
}

// A token path someone made a FIFO, and a HOME that is no single absolute directory.
class HostileFilesLauncher : public LauncherWithApp {};

TEST_F(HostileFilesLauncher, ATokenThatIsAFifoStartsClaudeUnregisteredAtOnce) {
  fs::remove(layout_->token);
  ASSERT_EQ(::mkfifo(layout_->token.c_str(), 0600), 0);
  const RunResult r = run({"claude", "x"});
  EXPECT_EQ(r.status, 42);
  EXPECT_THAT(r.err, HasSubstr("kestrum: kestrum 없이 띄웁니다"));
  EXPECT_THAT(started_args(), ElementsAre("x"));
  EXPECT_LT(r.elapsed, 6s);  // far below the 10 s registration limit
  EXPECT_EQ(app_->connections(), 0u);
}

TEST_F(HostileFilesLauncher, AnOddHomeAddsNothingToClaudesSearchPath) {
  // Each would give an empty entry (the current directory), a relative one or a split one.
  for (const char* home : {":", "/a:/b", "", "rel/home"}) {
    SCOPED_TRACE(home);
    env_["HOME"] = home;
    fs::remove(record_ / "pid");
    run({"claude"});
    ASSERT_TRUE(claude_started());
    EXPECT_EQ(started().env.at("PATH"),
              bin_.string() + ":/usr/bin:/bin:/opt/homebrew/bin:/usr/local/bin");
  }
}

}  // namespace
}  // namespace kestrum
