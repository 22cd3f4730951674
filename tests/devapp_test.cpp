// The development app as a person or the demo runs it: a real process on a real socket,
// talked to with the programs' own client.
#include <gtest/gtest.h>
#include <signal.h>

#include <regex>
#include <sstream>
#include <thread>

#include "appclient/app_session.hpp"
#include "profile/profile_paths.hpp"
#include "profile/token.hpp"
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

constexpr const char* kRules = R"({"rules": [
  {"tool": "Bash", "input_contains": "rm -rf", "decision": "deny", "reason": "Not here."},
  {"tool": "Bash", "input_contains": "git push", "decision": "hold", "then": "deny",
   "reason": "Pushing waits for review.", "after_ms": 600},
  {"tool": "Bash", "input_contains": "deploy", "decision": "hold", "then": "allow", "after_ms": 300},
  {"tool": "Bash", "input_contains": "publish", "decision": "hold"},
  {"tool": "Bash", "decision": "allow"},
  {"tool": "Read", "decision": "ask", "reason": "Reading is checked."},
  {"tool": "*", "decision": "deny"}],
 "prompt_context": "Notes live in notes.txt."})";

std::size_t count_of(const std::string& text, const std::string& word) {
  std::size_t n = 0;
  for (auto at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

// The socket file appears before it listens; this line only once it does.
bool serving(BackgroundProcess& app) {
  return eventually([&] { return app.out().find("serving profile") != std::string::npos; }, 10s);
}

class DevAppTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(home_); }

  void start(std::vector<std::string> extra = {}) {
    write_file(tmp_.path() / "rules.json", kRules);
    RunOptions options;
    options.args = {"--home", home_.string(),   "--rules", (tmp_.path() / "rules.json").string(),
                    "--hook", KESTRUM_HOOK_BIN, "--log",   log_.string()};
    options.args.insert(options.args.end(), extra.begin(), extra.end());
    app_ = std::make_unique<BackgroundProcess>(KESTRUM_DEVAPP_BIN, options, tmp_.path());
    ASSERT_TRUE(serving(*app_)) << app_->err();
  }

  std::expected<Json, RpcError> call(const std::string& method, const Json& params,
                                     std::optional<std::string> token = {}) {
    const Json hello = {{"pid", 1},
                        {"protocol_version", 0},
                        {"role", "hook"},
                        {"token", token ? *token : read_token(layout_.token).value_or("")}};
    auto session = AppSession::open(layout_.socket, hello, 5s);
    if (!session) return std::unexpected(session.error());
    return session->call(method, params);
  }
  Json result_of(const std::string& method, const Json& params) {
    auto r = call(method, params);
    EXPECT_TRUE(r.has_value()) << method;
    return r ? *r : Json();
  }
  Json check(const std::string& tool, const std::string& command) {
    return result_of("policy_check", {{"tool_input", {{"command", command}}}, {"tool_name", tool}});
  }
  Json hello() {
    return {{"pid", 1},
            {"protocol_version", 0},
            {"role", "hook"},
            {"token", read_token(layout_.token).value_or("")}};
  }
  // A held call's session after "policy_check" (id 2), and its perm id.
  std::pair<AppSession, std::string> held_call(const std::string& command) {
    auto session = AppSession::open(layout_.socket, hello(), 5s);
    EXPECT_TRUE(session.has_value());
    const Json params = {{"tool_input", {{"command", command}}}, {"tool_name", "Bash"}};
    const auto held = session->call("policy_check", params);
    EXPECT_TRUE(held.has_value());
    return {std::move(*session), held->value("perm_id", "")};
  }
  bool on_screen(const std::string& text) {
    return eventually([&] { return app_->out().find(text) != std::string::npos; }, 10s);
  }

  TempDir tmp_;
  fs::path home_ = tmp_.path() / "home";
  fs::path log_ = tmp_.path() / "app.jsonl";
  AppLayout layout_{home_};
  std::unique_ptr<BackgroundProcess> app_;
};

TEST_F(DevAppTest, SetsUpTheProfileAndCleansUpAtTheEndOfInput) {
  start();
  const auto token = read_token(layout_.token);
  ASSERT_TRUE(token.has_value());
  EXPECT_EQ(token->size(), 64u);
  EXPECT_EQ(mode_of(layout_.token), 0600u);
  EXPECT_TRUE(fs::is_directory(layout_.profile_dir / "remote"));

  app_->close_input();
  const auto done = app_->wait(10s);
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(done->status, 0);
  EXPECT_FALSE(fs::exists(layout_.socket));
  EXPECT_FALSE(fs::exists(layout_.token));
}

TEST_F(DevAppTest, StopsCleanlyOnSigterm) {
  start();
  app_->send_signal(SIGTERM);
  const auto done = app_->wait(10s);
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(done->status, 0);
  EXPECT_FALSE(fs::exists(layout_.socket));
  EXPECT_FALSE(fs::exists(layout_.token));
}

TEST_F(DevAppTest, RefusesAWrongToken) {
  start();
  EXPECT_EQ(call("policy_check", Json::object(), "wrong").error(), RpcError::Protocol);
  EXPECT_TRUE(call("policy_check", Json::object()).has_value());
}

TEST_F(DevAppTest, DecidesToolCallsByItsRules) {
  start();
  EXPECT_EQ(check("Bash", "ls"), Json({{"decision", "allow"}}));
  EXPECT_EQ(check("Bash", "rm -rf /"), Json({{"decision", "deny"}, {"reason", "Not here."}}));
  EXPECT_EQ(check("Read", "x"), Json({{"decision", "ask"}, {"reason", "Reading is checked."}}));
  EXPECT_EQ(check("Write", "x"), Json({{"decision", "deny"}}));
  EXPECT_EQ(result_of("permission_decide", {{"tool_name", "Bash"}, {"tool_input", Json::object()}}),
            Json({{"behavior", "allow"}}));
  EXPECT_EQ(result_of("permission_decide", {{"tool_name", "Read"}, {"tool_input", Json::object()}}),
            Json({{"behavior", nullptr}}));
  EXPECT_EQ(result_of("prompt_submitted", {{"prompt_head", "hi"}}),
            Json({{"additional_context", "Notes live in notes.txt."}}));
}

TEST_F(DevAppTest, HoldIsDecidedAfterItsDelayOnTheSameConnection) {
  start();
  const Json hello = {
      {"pid", 1}, {"protocol_version", 0}, {"role", "hook"}, {"token", *read_token(layout_.token)}};
  auto session = AppSession::open(layout_.socket, hello, 5s);
  ASSERT_TRUE(session.has_value());
  const Json params = {{"tool_input", {{"command", "git push"}}}, {"tool_name", "Bash"}};
  const auto held = session->call("policy_check", params);
  ASSERT_TRUE(held.has_value());
  ASSERT_EQ((*held)["decision"], "hold");
  const auto asked = Clock::now();
  const Json wait = {{"perm_id", (*held)["perm_id"]}};
  const auto decided = session->call("policy_wait", wait, Clock::now() + 10s);
  ASSERT_TRUE(decided.has_value());
  EXPECT_EQ(*decided, Json({{"decision", "deny"}, {"reason", "Pushing waits for review."}}));
  EXPECT_GE(Clock::now() - asked, 500ms);
}

TEST_F(DevAppTest, APersonDecidesAHoldWithNoTimer) {
  start();
  struct Case {
    std::string command, reason;  // typed: command, perm id, reason
    Json answer;
  };
  for (const Case& c : std::vector<Case>{
           {"allow", "", {{"decision", "allow"}}},
           {"deny", "", {{"decision", "deny"}, {"reason", "Declined by the person at the app."}}},
           {"deny",
            " Wait for the release notes.",
            {{"decision", "deny"}, {"reason", "Wait for the release notes."}}}}) {
    auto [session, perm_id] = held_call("npm publish");
    AppConnection& connection = session.connection_for_tests();
    ASSERT_FALSE(perm_id.empty());
    EXPECT_TRUE(on_screen(perm_id + " waits for you: Bash {\"command\":\"npm publish\"}"));
    app_->write_input("holds\n");
    EXPECT_TRUE(on_screen("waiting: " + perm_id + "  Bash"));
    const Json wait = {{"perm_id", perm_id}};
    ASSERT_TRUE(send_message(connection, 3, "policy_wait", wait, Clock::now() + 5s));
    // Nothing comes back before the person answers.
    EXPECT_EQ(read_answer(connection, 3, Clock::now() + 300ms).error(), RpcError::Timeout);
    app_->write_input(c.command + " " + perm_id + c.reason + "\n");
    const auto decided = read_answer(connection, 3, Clock::now() + 10s);
    ASSERT_TRUE(decided.has_value()) << c.command << c.reason;
    EXPECT_EQ(*decided, c.answer);
  }
  app_->write_input("allow perm-99\n");
  EXPECT_TRUE(on_screen("no call waits as perm-99"));
}

TEST_F(DevAppTest, StopsWhileAHoldWaitsForAPerson) {
  start();
  auto [session, perm_id] = held_call("npm publish");
  AppConnection& connection = session.connection_for_tests();
  const Json wait = {{"perm_id", perm_id}};
  ASSERT_TRUE(send_message(connection, 3, "policy_wait", wait, Clock::now() + 5s));
  EXPECT_TRUE(on_screen(perm_id + " waits for you"));
  app_->close_input();
  const auto done = app_->wait(10s);
  ASSERT_TRUE(done.has_value());
  EXPECT_EQ(done->status, 0);
  EXPECT_FALSE(read_answer(connection, 3, Clock::now() + 5s).has_value());
}

TEST_F(DevAppTest, LogLinesAreTimedAndCarryNoToken) {
  start();
  const std::string app_token = *read_token(layout_.token);
  const Json reply = result_of("launch.register", {{"cwd", "/w"}});
  const std::string launch_token = reply["env"]["KESTRUM_LAUNCH_TOKEN"];
  ASSERT_FALSE(launch_token.empty());
  EXPECT_EQ(result_of("launch_owned", {{"launch_token", launch_token}}), Json({{"owned", true}}));
  {  // a line that is no JSON is logged as it came, but for the token
    auto socket = connect_with_timeout(layout_.socket, 2s);
    ASSERT_TRUE(socket.has_value());
    const std::string garbage = "{oops " + app_token + "\n";
    ASSERT_EQ(::write(socket->get(), garbage.data(), garbage.size()),
              static_cast<ssize_t>(garbage.size()));
  }
  ASSERT_TRUE(eventually([&] { return read_file(log_).find("{oops") != std::string::npos; }, 5s));
  app_->close_input();
  ASSERT_TRUE(app_->wait(10s).has_value());

  const std::string log = read_file(log_);
  for (const std::string& secret : {app_token, launch_token}) {
    EXPECT_EQ(log.find(secret), std::string::npos);
    EXPECT_EQ(app_->out().find(secret), std::string::npos);
  }
  EXPECT_NE(log.find("(redacted)"), std::string::npos);
  const std::regex iso_time(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)");
  std::istringstream lines(log);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    const auto record = parse_json(line);
    ASSERT_TRUE(record.has_value()) << line;
    const std::string* time = string_member(*record, "time");
    ASSERT_NE(time, nullptr) << line;
    EXPECT_TRUE(std::regex_match(*time, iso_time)) << *time;
  }
  EXPECT_GE(count, 8);
}

TEST_F(DevAppTest, UsageReportsShowOnlyWhenTheirFiguresChange) {
  for (const bool verbose : {false, true}) {
    std::vector<std::string> extra;
    if (verbose) extra.push_back("--verbose");
    start(extra);
    const Json same = {{"context", {{"used_pct", 12.0}, {"window", 200000}}}, {"session_id", "s"}};
    const Json changed = {{"context", {{"used_pct", 13.0}, {"window", 200000}}},
                          {"session_id", "s"}};
    for (const Json& report : {same, same, changed}) {
      // One after another, as a session's status line refreshes.
      const std::size_t before = count_of(read_file(log_), "usage_report");
      {  // closed before the log is looked at, as the hook's is
        auto session = AppSession::open(layout_.socket, hello(), 5s);
        ASSERT_TRUE(session.has_value());
        ASSERT_TRUE(session->notify("usage_report", report).has_value());
      }
      ASSERT_TRUE(
          eventually([&] { return count_of(read_file(log_), "usage_report") > before; }, 5s));
    }
    app_->close_input();
    ASSERT_TRUE(app_->wait(10s).has_value());
    const std::string screen = app_->out();
    const std::size_t shown = count_of(screen, "usage_report");
    EXPECT_EQ(shown, verbose ? 3u : 2u) << screen;
    EXPECT_EQ(screen.find("hello") != std::string::npos, verbose) << screen;
  }
}

TEST_F(DevAppTest, RegistersALaunchWithASettingsFileForEveryEvent) {
  start({"--user-statusline", "echo hi"});
  const Json reply =
      result_of("launch.register", {{"config_dir", "/c"}, {"cwd", "/w"}, {"mode", "plan"}});
  ASSERT_TRUE(reply["args"].is_array());
  ASSERT_GE(reply["args"].size(), 4u);
  EXPECT_EQ(reply["args"][0], "--settings");
  EXPECT_EQ(reply["args"][2], "--permission-mode");
  EXPECT_EQ(reply["args"][3], "plan");
  const Json& env = reply["env"];
  EXPECT_EQ(env["KESTRUM_SOCKET"], layout_.socket.string());
  EXPECT_EQ(env["KESTRUM_DATA_DIR"], layout_.data.string());
  EXPECT_EQ(env["KESTRUM_USER_STATUSLINE"], "echo hi");
  const std::string launch_token = env["KESTRUM_LAUNCH_TOKEN"];

  const auto settings = parse_json(read_file(reply["args"][1].get<std::string>()));
  ASSERT_TRUE(settings.has_value());
  const std::string hook = KESTRUM_HOOK_BIN;
  for (const char* event :
       {"PreToolUse", "PermissionRequest", "PermissionDenied", "UserPromptSubmit", "ConfigChange",
        "SessionStart", "SessionEnd", "Stop", "StopFailure", "SubagentStart", "SubagentStop",
        "Notification", "PostToolUse"}) {
    const Json& command = (*settings)["hooks"][event][0]["hooks"][0];
    EXPECT_EQ(command["command"], "exec '" + hook + "' " + event + " --profile kestrum");
    const bool waits_on_a_person =
        std::string_view(event) == "PreToolUse" || std::string_view(event) == "PermissionRequest";
    if (waits_on_a_person) {
      EXPECT_GT(command["timeout"].get<int>(), 615) << event;
    }
  }
  EXPECT_EQ((*settings)["statusLine"]["command"],
            "exec '" + hook + "' statusline --profile kestrum");

  EXPECT_EQ(result_of("launch_owned", {{"launch_token", launch_token}}), Json({{"owned", true}}));
  EXPECT_EQ(result_of("launch_owned", {{"launch_token", "other"}}), Json({{"owned", false}}));

  app_->close_input();
  ASSERT_TRUE(app_->wait(10s).has_value());
  EXPECT_FALSE(fs::exists(reply["args"][1].get<std::string>()));
}

TEST_F(DevAppTest, BlocksConfigurationChangesOfRemoteSessions) {
  start({"--remote", "from-flag"});
  EXPECT_EQ(result_of("config_change", {{"session_id", "from-flag"}}), Json({{"block", true}}));
  EXPECT_EQ(result_of("config_change", {{"session_id", "s2"}}), Json({{"block", false}}));
  app_->write_input("remote s2\n");
  ASSERT_TRUE(eventually([&] { return fs::exists(layout_.remote_marker("s2")); }, 5s));
  EXPECT_EQ(result_of("config_change", {{"session_id", "s2"}}), Json({{"block", true}}));
  app_->write_input("local s2\n");
  ASSERT_TRUE(eventually([&] { return !fs::exists(layout_.remote_marker("s2")); }, 5s));
}

TEST_F(DevAppTest, GarbageIsLoggedAndOthersAreStillServed) {
  start();
  {
    auto socket = connect_with_timeout(layout_.socket, 2s);
    ASSERT_TRUE(socket.has_value());
    const std::string garbage = "this is not json\n";
    ASSERT_EQ(::write(socket->get(), garbage.data(), garbage.size()),
              static_cast<ssize_t>(garbage.size()));
  }
  // Several at once, as hooks of parallel tool calls connect.
  std::vector<std::thread> callers;
  std::atomic<int> answered{0};
  for (int i = 0; i < 6; ++i) {
    callers.emplace_back([&] {
      if (call("policy_check", {{"tool_name", "Bash"}, {"tool_input", {{"command", "ls"}}}}))
        ++answered;
    });
  }
  for (auto& t : callers) t.join();
  EXPECT_EQ(answered.load(), 6);
  EXPECT_TRUE(eventually(
      [&] { return read_file(log_).find("this is not json") != std::string::npos; }, 5s));
  EXPECT_NE(read_file(log_).find("\"direction\":\"out\""), std::string::npos);
}

TEST_F(DevAppTest, HandsOutNoSettingsOnceItsHookIsGone) {
  const fs::path hook = tmp_.path() / "kestrum-hook";
  write_file(hook, "#!/bin/sh\n");
  fs::permissions(hook, fs::perms::owner_all);
  start({"--hook", hook.string()});
  fs::remove(hook);
  EXPECT_EQ(call("launch.register", {{"cwd", "/w"}}).error(), RpcError::Protocol);
  for (const auto& entry : fs::directory_iterator(layout_.profile_dir)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("devapp-settings")) << entry.path();
  }
}

TEST(DevAppHookTest, FindsTheHookBesideItselfOrRefusesAnUnusableOne) {
  TempDir tmp;
  const fs::path home = tmp.path() / "home";
  const fs::path bin = tmp.path() / "bin";
  fs::create_directories(bin);
  write_file(tmp.path() / "plain", "not a program");
  for (const fs::path& hook : {tmp.path() / "missing", tmp.path() / "plain", bin}) {
    RunOptions options;
    options.args = {"--home", home.string(), "--hook", hook.string()};
    const RunResult r = run_program(KESTRUM_DEVAPP_BIN, options);
    EXPECT_EQ(r.status, 2) << hook;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(hook.string()), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(home / "Library")) << hook;
  }

  // An installed devapp uses the hook beside it, not the one its build made.
  fs::copy_file(KESTRUM_DEVAPP_BIN, bin / "kestrum-devapp");
  write_file(bin / "kestrum-hook", "#!/bin/sh\n");
  fs::permissions(bin / "kestrum-hook", fs::perms::owner_all);
  RunOptions options;
  options.args = {"--home", home.string()};
  BackgroundProcess app(bin / "kestrum-devapp", options, tmp.path());
  const AppLayout layout(home);
  ASSERT_TRUE(serving(app)) << app.err();
  const Json hello = {{"pid", 1},
                      {"protocol_version", 0},
                      {"role", "cli"},
                      {"token", read_token(layout.token).value_or("")}};
  auto session = AppSession::open(layout.socket, hello, 5s);
  ASSERT_TRUE(session.has_value());
  const auto reply = session->call("launch.register", {{"cwd", "/w"}});
  ASSERT_TRUE(reply.has_value());
  const auto settings = parse_json(read_file((*reply)["args"][1].get<std::string>()));
  ASSERT_TRUE(settings.has_value());
  EXPECT_EQ((*settings)["statusLine"]["command"],
            "exec '" + (bin / "kestrum-hook").string() + "' statusline --profile kestrum");
}

TEST(DevAppOptionsTest, BadRulesOrHomeAreOneLineErrorsAndCreateNothing) {
  TempDir tmp;
  const fs::path home = tmp.path() / "home";
  for (const auto& [content, problem] : std::vector<std::pair<std::string, std::string>>{
           {"{not json", "not valid JSON"},
           {R"({"rules":[{"tool":"Bash","decision":"maybe"}]})", "unknown decision \"maybe\""},
           {R"({"rules":[{"tool":"Bash","decision":"hold","then":"deny"}]})",
            "\"then\" needs \"after_ms\""},
           {R"({"rules":[{"tool":"Bash","event":"Stop","decision":"allow"}]})",
            "\"event\" must be PreToolUse or PermissionRequest"}}) {
    write_file(tmp.path() / "rules.json", content);
    RunOptions options;
    options.args = {"--home", home.string(), "--rules", (tmp.path() / "rules.json").string()};
    const RunResult r = run_program(KESTRUM_DEVAPP_BIN, options);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find((tmp.path() / "rules.json").string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(problem), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(home / "Library"));
  }
  fs::path deep = home;
  while (deep.native().size() < 80) deep /= "deeper";
  const std::string socket =
      (deep / "Library/Application Support/kestrum/run/kestrum.sock").string();
  RunOptions deep_home;
  deep_home.args = {"--home", deep.string()};
  const RunResult too_long = run_program(KESTRUM_DEVAPP_BIN, deep_home);
  EXPECT_EQ(too_long.status, 2);
  EXPECT_EQ(std::count(too_long.err.begin(), too_long.err.end(), '\n'), 1) << too_long.err;
  EXPECT_NE(too_long.err.find(socket + " is " + std::to_string(socket.size()) +
                              " bytes, over the " + std::to_string(kMaxSocketPathBytes) + " bytes"),
            std::string::npos)
      << too_long.err;
  EXPECT_FALSE(fs::exists(home));

  RunOptions help;
  help.args = {"--help"};
  const RunResult r = run_program(KESTRUM_DEVAPP_BIN, help);
  EXPECT_EQ(r.status, 0);
  // Every option, and every key the rules reader takes.
  for (const char* word :
       {"--home", "--profile", "--rules", "--hook", "--user-statusline", "--log", "--verbose",
        "--remote", "--help", "\"tool\"", "\"input_contains\"", "\"event\"", "\"decision\"",
        "\"reason\"", "\"then\"", "\"after_ms\"", "\"prompt_context\"", "\"remote_sessions\""}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
}

}  // namespace
}  // namespace kestrum::testkit
