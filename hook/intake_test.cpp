#include "hook/intake.hpp"

#include <gtest/gtest.h>

#include "common/sha256.hpp"
#include "hook/events.hpp"
#include "hook/params.hpp"
#include "testing/process/files.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum {
namespace {

namespace fs = std::filesystem;

Json event_of(std::string_view text) {
  return parse_event(text);
}

TEST(ParseEventTest, AnythingButOneJsonValueIsNull) {
  EXPECT_TRUE(parse_event("").is_null());
  EXPECT_TRUE(parse_event("{").is_null());
  EXPECT_TRUE(parse_event("{} {}").is_null());
  EXPECT_TRUE(parse_event("\xFF").is_null());
  EXPECT_TRUE(parse_event(" \n{\"a\":1}\n ").is_object());
  // Nesting deep enough to exhaust the stack when written back is refused, not a crash.
  EXPECT_TRUE(parse_event(std::string(100000, '[') + std::string(100000, ']')).is_null());
}

TEST(SessionIdTest, NeedsANonEmptyString) {
  EXPECT_EQ(event_session_id(event_of(R"({"session_id":"abc"})")), "abc");
  EXPECT_EQ(event_session_id(event_of(R"({"session_id":""})")), std::nullopt);
  EXPECT_EQ(event_session_id(event_of(R"({"session_id":5})")), std::nullopt);
  EXPECT_EQ(event_session_id(event_of(R"(["session_id"])")), std::nullopt);
}

TEST(ConfigDirectoryTest, PrefersTheVariableAndDropsTrailingSlashes) {
  Env env;
  env.home = "/Users/a";
  EXPECT_EQ(config_directory(env), "/Users/a/.claude");
  env.home = "/Users/a/";
  EXPECT_EQ(config_directory(env), "/Users/a/.claude");
  env.claude_config_dir = "/Users/a/cfg//";
  EXPECT_EQ(config_directory(env), "/Users/a/cfg");
  env.claude_config_dir = "/";
  EXPECT_EQ(config_directory(env), "/");
  env.claude_config_dir = "///";
  EXPECT_EQ(config_directory(env), "///");
  env.claude_config_dir.reset();
  env.home = std::string("/h\xFF");
  EXPECT_EQ(config_directory(env), "/h\xEF\xBF\xBD/.claude");
}

TEST(CanonicalJsonTest, SortsEveryLevelAndKeepsArrays) {
  // Built member by member so the input order is b before a, d before c, f before e.
  Json inner_obj = Json::object();
  inner_obj["f"] = 1;
  inner_obj["e"] = 2;
  Json a = Json::object();
  a["d"] = 2;
  a["c"] = Json::array({3, inner_obj});
  Json input = Json::object();
  input["b"] = 1;
  input["a"] = a;
  EXPECT_EQ(canonical_json(input), R"({"a":{"c":[3,{"e":2,"f":1}],"d":2},"b":1})");
  EXPECT_EQ(canonical_json(event_of(R"({"z":[1.5,"x\n",null,true],"é":{}})")),
            "{\"z\":[1.5,\"x\\n\",null,true],\"\xC3\xA9\":{}}");
}

TEST(ToolKeyTest, HashesNameLineFeedAndCanonicalInput) {
  const Json event = event_of(R"({"tool_name":"Bash","tool_input":{"z":1,"a":"x"}})");
  EXPECT_EQ(tool_key(event), sha256_hex("Bash\n{\"a\":\"x\",\"z\":1}"));
  EXPECT_EQ(tool_key(event_of(R"({"tool_name":"Bash","tool_input":[1]})")), std::nullopt);
  EXPECT_EQ(tool_key(event_of(R"({"tool_input":{}})")), std::nullopt);
}

TEST(MethodParamsTest, SessionEventsCarryEventNameAndConfigDir) {
  const Json event = event_of(R"({"session_id":"s","cwd":"/w","prompt_id":"p",
      "permission_mode":"default","transcript_path":"/t","stop_hook_active":true,
      "notification_type":"permission_prompt","agent_id":"ag","agent_type":"gp","extra":1})");
  const Json params = method_params("Stop", event, "/c");
  EXPECT_EQ(dump_compact(params),
            R"({"agent_id":"ag","agent_type":"gp","config_dir":"/c","cwd":"/w","event":"Stop",)"
            R"("notification_type":"permission_prompt","permission_mode":"default",)"
            R"("prompt_id":"p","session_id":"s","stop_hook_active":true,"transcript_path":"/t"})");
}

TEST(MethodParamsTest, CopiesOnlyMembersOfTheRightType) {
  const Json event = event_of(R"({"session_id":"","cwd":5,"stop_hook_active":"true"})");
  EXPECT_EQ(dump_compact(method_params("SessionStart", event, "/c")),
            R"({"config_dir":"/c","event":"SessionStart","session_id":""})");
  EXPECT_EQ(dump_compact(method_params("SessionStart", Json(nullptr), "/c")),
            R"({"config_dir":"/c","event":"SessionStart"})");
}

TEST(MethodParamsTest, ToolEventsCarryInputAndKeyAsTheirKindNeeds) {
  const Json event = event_of(
      R"({"session_id":"s","tool_name":"Bash","tool_input":{"command":"ls"},"agent_id":"a"})");
  const std::string key = *tool_key(event);

  const Json pre = method_params("PreToolUse", event, "/c");
  EXPECT_EQ(
      dump_compact(pre),
      R"({"agent_id":"a","session_id":"s","tool_input":{"command":"ls"},"tool_name":"Bash"})");

  const Json perm = method_params("PermissionRequest", event, "/c");
  EXPECT_FALSE(perm.contains("agent_id"));
  EXPECT_EQ(perm["tool_key"], key);
  EXPECT_EQ(method_params("PermissionDenied", event, "/c")["tool_key"], key);
  EXPECT_EQ(method_params("PostToolUse", event, "/c")["tool_key"], key);
  EXPECT_FALSE(method_params("Stop", event, "/c").contains("tool_key"));

  const Json no_input = method_params("PermissionRequest", event_of(R"({"tool_name":"X"})"), "/c");
  EXPECT_EQ(no_input["tool_input"], Json::object());
  EXPECT_FALSE(no_input.contains("tool_key"));
}

TEST(MethodParamsTest, ConfigChangeCarriesSourceAndFile) {
  const Json event = event_of(R"({"session_id":"s","source":"user_settings","file_path":"/f"})");
  EXPECT_EQ(dump_compact(method_params("ConfigChange", event, "/c")),
            R"({"file_path":"/f","session_id":"s","source":"user_settings"})");
}

TEST(MethodParamsTest, PromptIsSentAsHeadAndDigestOnly) {
  std::string prompt;
  for (int i = 0; i < 201; ++i) prompt += "\xED\x95\x9C";  // 201 three-byte characters
  const Json event = Json{{"prompt", prompt}, {"session_id", "s"}};
  const Json params = method_params("UserPromptSubmit", event, "/c");
  EXPECT_EQ(params["prompt_head"], prompt.substr(0, 600));
  EXPECT_EQ(params["prompt_sha256"], sha256_hex(prompt));
  EXPECT_FALSE(params.contains("prompt"));

  const Json empty = method_params("UserPromptSubmit", Json{{"prompt", ""}}, "/c");
  EXPECT_EQ(empty["prompt_head"], "");
  EXPECT_EQ(empty["prompt_sha256"], sha256_hex(""));

  const Json none = method_params("UserPromptSubmit", Json{{"prompt", 5}}, "/c");
  EXPECT_EQ(none["prompt_head"], "");
  EXPECT_FALSE(none.contains("prompt_sha256"));
}

class IdentityTest : public ::testing::Test {
 protected:
  void SetUp() override { env_.parent_pid = 4711; }
  void write_token(const std::string& text) { testkit::write_file(token_, text); }

  testkit::TempDir dir_;
  const fs::path token_ = dir_.path() / "kestrum.token";
  Env env_;
};

TEST_F(IdentityTest, CarriesTokenSessionAndCaller) {
  write_token("  secret\n");
  const auto id = identity_object(event_of(R"({"cwd":"/w"})"), "s", "/c", env_, token_);
  ASSERT_TRUE(id.has_value());
  EXPECT_EQ(dump_compact(*id),
            R"({"config_dir":"/c","cwd":"/w","pid":4711,"protocol_version":0,"role":"hook",)"
            R"("session_id":"s","token":"secret"})");
  env_.launch_token = "lt";
  env_.parent_pid = 0;
  const auto with_launch = identity_object(event_of("{}"), "s", "/c", env_, token_);
  ASSERT_TRUE(with_launch.has_value());
  EXPECT_EQ((*with_launch)["launch_token"], "lt");
  EXPECT_EQ((*with_launch)["pid"], 1);
  EXPECT_EQ((*with_launch)["cwd"], fs::current_path().string());
}

TEST_F(IdentityTest, FailsWithoutAUsableToken) {
  EXPECT_FALSE(identity_object(Json(nullptr), "s", "/c", env_, token_).has_value());
  write_token(" \n\t ");
  EXPECT_FALSE(identity_object(Json(nullptr), "s", "/c", env_, token_).has_value());
  write_token("tok\xFF");
  EXPECT_FALSE(identity_object(Json(nullptr), "s", "/c", env_, token_).has_value());
}

}  // namespace
}  // namespace kestrum
