// The development app as a person or the demo runs it: a real process on a real socket,
// talked to with the programs' own client.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "appclient/rpc.hpp"
#include "profile/token.hpp"
#include "testing/process/app_layout.hpp"
#include "testing/process/background.hpp"
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
  {"tool": "Bash", "decision": "allow"},
  {"tool": "Read", "decision": "ask", "reason": "Reading is checked."},
  {"tool": "*", "decision": "deny"}],
 "prompt_context": "Notes live in notes.txt."})";

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
    ASSERT_TRUE(eventually([&] { return fs::exists(layout_.socket); }, 10s)) << app_->err();
  }

  std::expected<Json, RpcError> call(const std::string& method, const Json& params,
                                     std::optional<std::string> token = {}) {
    const Json hello = {{"pid", 1},
                        {"protocol_version", 0},
                        {"role", "hook"},
                        {"token", token ? *token : read_token(layout_.token).value_or("")}};
    return rpc_request(layout_.socket, hello, method, params, 5s);
  }
  Json result_of(const std::string& method, const Json& params) {
    auto r = call(method, params);
    EXPECT_TRUE(r.has_value()) << method;
    return r ? *r : Json();
  }
  Json check(const std::string& tool, const std::string& command) {
    return result_of("policy_check", {{"tool_input", {{"command", command}}}, {"tool_name", tool}});
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
  struct stat st {};
  ASSERT_EQ(::stat(layout_.token.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
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
  auto socket = connect_with_timeout(layout_.socket, 2s);
  ASSERT_TRUE(socket.has_value());
  const Json hello = {
      {"pid", 1}, {"protocol_version", 0}, {"role", "hook"}, {"token", *read_token(layout_.token)}};
  auto connection = greet(std::move(*socket), hello, Clock::now() + 5s);
  ASSERT_TRUE(connection.has_value());
  const Json params = {{"tool_input", {{"command", "git push"}}}, {"tool_name", "Bash"}};
  ASSERT_TRUE(
      send_message(*connection, make_request(2, "policy_check", params), Clock::now() + 5s));
  const auto held = read_answer(*connection, 2, Clock::now() + 5s);
  ASSERT_TRUE(held.has_value());
  ASSERT_EQ((*held)["decision"], "hold");
  const auto asked = Clock::now();
  const Json wait = {{"perm_id", (*held)["perm_id"]}};
  ASSERT_TRUE(send_message(*connection, make_request(3, "policy_wait", wait), Clock::now() + 5s));
  const auto decided = read_answer(*connection, 3, Clock::now() + 10s);
  ASSERT_TRUE(decided.has_value());
  EXPECT_EQ(*decided, Json({{"decision", "deny"}, {"reason", "Pushing waits for review."}}));
  EXPECT_GE(Clock::now() - asked, 500ms);
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

TEST(DevAppOptionsTest, BadRulesAreOneLineErrorsAndCreateNothing) {
  TempDir tmp;
  const fs::path home = tmp.path() / "home";
  for (const auto& [content, problem] : std::vector<std::pair<std::string, std::string>>{
           {"{not json", "not valid JSON"},
           {R"({"rules":[{"tool":"Bash","decision":"maybe"}]})", "unknown decision \"maybe\""}}) {
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
  RunOptions help;
  help.args = {"--help"};
  const RunResult r = run_program(KESTRUM_DEVAPP_BIN, help);
  EXPECT_EQ(r.status, 0);
  for (const char* option : {"--home", "--profile", "--rules", "--hook", "--user-statusline",
                             "--log", "--remote", "--help"}) {
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace kestrum::testkit
