// kestrum-hook under a real process chain: a desktop app stand-in named "kestrum-desktop"
// (which may serve another instance's socket), a shell standing for Claude Code, the hook.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "common/json.hpp"
#include "profile/profile_paths.hpp"
#include "testing/app_double/fake_app.hpp"
#include "testing/process/app_layout.hpp"
#include "testing/process/files.hpp"
#include "testing/process/process.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::testkit {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::string_view kSession = "s-1";
constexpr std::string_view kAllow =
    R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"allow"}})"
    "\n";
// A shell that does not replace itself with the hook: the hook's parent is not the desktop.
constexpr const char* kOneEvent = R"("$KESTRUM_TEST_HOOK" "$@"; exit $?)";

std::string event_json() {
  return dump_compact(Json{{"cwd", "/tmp"},
                           {"hook_event_name", "PreToolUse"},
                           {"session_id", std::string(kSession)},
                           {"tool_input", {{"command", "ls"}}},
                           {"tool_name", "Bash"}});
}

std::vector<Json> json_lines(const fs::path& file) {
  std::vector<Json> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(*parse_json(line));
  return lines;
}

class OwnershipProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    own_.write_token("own-token");
    own_app_.on("policy_check", Reply::result({{"decision", "allow"}}));
    fs::create_directories(other_socket_.parent_path());
    write_file(other_token_, "other-token\n");
    fs::create_directories(desktop_.parent_path());
    // A copy, not a link: macOS may name a hard-linked process by the file's first name.
    fs::copy_file(KESTRUM_DESKTOP_STAND_IN_BIN, desktop_);
  }

  // The hook for one event, under the desktop stand-in with these options.
  RunResult under_desktop(std::vector<std::string> desktop_options, const std::string& event,
                          const std::string& input, const char* script = kOneEvent) {
    RunOptions options;
    options.args = std::move(desktop_options);
    options.args.insert(options.args.end(),
                        {"--record", record_.string(), "--pid-file", pid_file_.string(), "--",
                         "/bin/sh", "-c", script, "sh", event});
    options.input = input;
    options.env = env_;
    return run_program(desktop_, options);
  }
  // The other instance, served by the desktop stand-in itself.
  RunResult owned_answer(const std::string& answer) {
    return under_desktop({"--serve", other_socket_.string(), "--answer", answer}, "PreToolUse",
                         event_json());
  }

  std::vector<Json> probe_messages() const { return json_lines(record_); }
  std::uint32_t desktop_pid() const {
    return static_cast<std::uint32_t>(std::stoul(read_file(pid_file_)));
  }
  fs::path marker() const {
    return own_.profile_dir / ("kestrum-skip-" + session_digest(kSession) + ".json");
  }
  std::string marker_text(std::uint64_t pid, const fs::path& socket) const {
    return dump_compact(Json{{"pid", pid}, {"socket", socket.string()}});
  }

  // What the hook does when no other instance owns the launch: ask its own app.
  void expect_handled_by_own_app(const RunResult& r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kAllow);
    EXPECT_EQ(r.err, "");
    const auto messages = own_app_.messages();
    ASSERT_EQ(messages.size(), own_seen_ + 2);
    EXPECT_EQ(messages[own_seen_]["params"]["role"], "hook");
    EXPECT_EQ(messages[own_seen_ + 1]["method"], "policy_check");
    own_seen_ = messages.size();
  }
  void expect_owned_elsewhere(const RunResult& r) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(own_app_.messages().size(), own_seen_);
  }

  TempDir dir_;
  AppLayout own_{dir_.path() / "home"};
  FakeApp own_app_{own_.socket};
  std::size_t own_seen_ = 0;  // messages of the own app already checked
  fs::path other_socket_ = dir_.path() / "other/run/work.sock";
  fs::path other_token_ = dir_.path() / "other/run/work.token";
  fs::path desktop_ = dir_.path() / "bin/kestrum-desktop";
  fs::path record_ = dir_.path() / "record";
  fs::path pid_file_ = dir_.path() / "desktop.pid";
  std::map<std::string, std::string> env_{{"HOME", own_.home.string()},
                                          {"PATH", "/usr/bin:/bin"},
                                          {"KESTRUM_TEST_HOOK", KESTRUM_HOOK_BIN},
                                          {"KESTRUM_SOCKET", other_socket_.string()},
                                          {"KESTRUM_LAUNCH_TOKEN", "launch-1"}};
};

TEST_F(OwnershipProcessTest, AConfirmedLaunchIsLeftAloneAndRecorded) {
  const RunResult r = owned_answer(R"({"owned":true})");
  expect_owned_elsewhere(r);
  const auto probe = probe_messages();
  ASSERT_EQ(probe.size(), 2u);
  EXPECT_EQ(probe[0]["method"], "hello");
  const Json& hello = probe[0]["params"];
  EXPECT_EQ(hello.size(), 4u) << hello;
  EXPECT_EQ(hello["role"], "probe");
  EXPECT_EQ(hello["token"], "other-token");
  EXPECT_EQ(hello["protocol_version"], 0);
  EXPECT_GE(hello["pid"].get<std::uint64_t>(), 2u) << "the shell's id";
  EXPECT_NE(hello["pid"], desktop_pid());
  EXPECT_EQ(probe[1], (Json{{"id", 2},
                            {"jsonrpc", "2.0"},
                            {"method", "launch_owned"},
                            {"params", {{"launch_token", "launch-1"}}}}));
  EXPECT_EQ(read_file(marker()), marker_text(desktop_pid(), other_socket_));
  EXPECT_EQ(fs::status(marker()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(OwnershipProcessTest, TheMarkerDecidesTheRestOfTheSessionUntilItsEnd) {
  const fs::path input = dir_.path() / "event.json";
  write_file(input, event_json());
  env_["EVENT"] = input.string();
  env_["MARKER"] = marker().string();
  const char* session = R"(
    for event in PreToolUse Stop PreToolUse SessionEnd; do
      "$KESTRUM_TEST_HOOK" "$event" <"$EVENT"; echo "$event $?"
      test -f "$MARKER" && echo marker
    done
    exit 0)";
  const RunResult r = under_desktop(
      {"--serve", other_socket_.string(), "--answer", R"({"owned":true})"}, "unused", "", session);
  EXPECT_EQ(r.out, "PreToolUse 0\nmarker\nStop 0\nmarker\nPreToolUse 0\nmarker\nSessionEnd 0\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(probe_messages().size(), 2u) << "one probe, then the marker alone";
  EXPECT_EQ(own_app_.connections(), 0u);
  EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(OwnershipProcessTest, NoProbeWithoutTheLaunchVariables) {
  for (const char* variable : {"KESTRUM_SOCKET", "KESTRUM_LAUNCH_TOKEN"}) {
    SCOPED_TRACE(variable);
    auto env = env_;
    env_.erase(variable);
    expect_handled_by_own_app(owned_answer(R"({"owned":true})"));
    EXPECT_TRUE(probe_messages().empty());
    env_ = env;
  }
}

TEST_F(OwnershipProcessTest, AnInstanceThatIsNotTheDesktopAncestorIsNotBelieved) {
  // The other socket is served from this test process, not by the app above the hook.
  FakeApp impostor(other_socket_);
  impostor.on("launch_owned", Reply::result({{"owned", true}}));
  expect_handled_by_own_app(under_desktop({}, "PreToolUse", event_json()));
  EXPECT_TRUE(impostor.wait_for_closed(1, 2s));
  EXPECT_TRUE(impostor.messages().empty());
  EXPECT_FALSE(fs::exists(marker()));
}

TEST_F(OwnershipProcessTest, WithoutADesktopAncestorTheInstanceIsNotBelieved) {
  FakeApp impostor(other_socket_);
  impostor.on("launch_owned", Reply::result({{"owned", true}}));
  RunOptions options;
  options.args = {"PreToolUse"};
  options.input = event_json();
  options.env = env_;
  expect_handled_by_own_app(run_program(KESTRUM_HOOK_BIN, options));
  EXPECT_TRUE(impostor.messages().empty());
}

TEST_F(OwnershipProcessTest, AStallingInstanceCostsAboutTheProbeLimit) {
  const RunResult r =
      under_desktop({"--serve", other_socket_.string(), "--stall"}, "PreToolUse", event_json());
  expect_handled_by_own_app(r);
  EXPECT_LT(r.elapsed, 1500ms);
  ASSERT_EQ(probe_messages().size(), 1u);
  EXPECT_EQ(probe_messages()[0]["method"], "hello");
}

// Files planted where the probe reads the other instance's token and writes the marker.
class HostileFilesOwnership : public OwnershipProcessTest {};

TEST_F(HostileFilesOwnership, TheOtherInstancesTokenAsAFifoMeansNoProbe) {
  fs::remove(other_token_);
  ASSERT_EQ(::mkfifo(other_token_.c_str(), 0600), 0);
  const RunResult r = owned_answer(R"({"owned":true})");
  expect_handled_by_own_app(r);
  EXPECT_LT(r.elapsed, 6s);  // the 2 s deadline and a margin for a loaded machine
  EXPECT_TRUE(probe_messages().empty());
}

TEST_F(HostileFilesOwnership, AHardLinkAtTheMarkerNameIsNotWrittenThrough) {
  const fs::path victim = dir_.path() / "victim";
  write_file(victim, "the user's own");
  fs::create_hard_link(victim, marker());
  expect_owned_elsewhere(owned_answer(R"({"owned":true})"));
  EXPECT_EQ(read_file(victim), "the user's own");
  EXPECT_EQ(fs::hard_link_count(victim), 2u);
}

}  // namespace
}  // namespace kestrum::testkit
