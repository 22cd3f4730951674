#include "launcher/register.hpp"

#include <gtest/gtest.h>

#include "testing/app_double/fake_app.hpp"
#include "testing/process/app_layout.hpp"
#include "testing/process/files.hpp"
#include "testing/process/temp_dir.hpp"

namespace kestrum::launcher {
namespace {

using namespace std::chrono_literals;
using testkit::AppLayout;
using testkit::FakeApp;
using testkit::Reply;
using testkit::TempDir;
using Words = std::vector<std::string>;

class CliRegister : public ::testing::Test {
 protected:
  CliRegister() : layout_(dir_.path()) {
    env_.home = dir_.path();
    layout_.write_token("tok");
  }

  std::expected<Json, RegisterError> call(const Words& leading = {},
                                          Json params = {{"cwd", "/w"}}) {
    return cli_register(leading, env_, std::move(params), 4s);
  }

  // The params of the "launch.register" request the app received.
  Json sent_params() const {
    const auto messages = app_.messages();
    return messages.size() == 2 ? messages[1]["params"] : Json();
  }

  TempDir dir_;
  AppLayout layout_;
  FakeApp app_{layout_.socket};
  Env env_;
};

TEST_F(CliRegister, ConfigDirReplacesTheCallersValue) {
  ASSERT_TRUE(call({}, {{"config_dir", "/caller"}, {"cwd", "/w"}, {"mode", "plan"}}));
  EXPECT_EQ(
      sent_params(),
      (Json{{"config_dir", dir_.path().string() + "/.claude"}, {"cwd", "/w"}, {"mode", "plan"}}));
  env_.claude_config_dir = "/";
  ASSERT_TRUE(call());
  EXPECT_EQ(app_.messages()[3]["params"]["config_dir"], "/");
}

TEST_F(CliRegister, ParamsThatAreNoObjectBecomeOne) {
  ASSERT_TRUE(call({}, Json::array()));
  EXPECT_EQ(sent_params(), (Json{{"config_dir", dir_.path().string() + "/.claude"}}));
}

TEST_F(CliRegister, DataDirOptionCountsOnlyInDevelopmentMode) {
  const TempDir other;
  std::filesystem::create_directories(other.path() / "run");
  testkit::write_file(other.path() / "run" / "kestrum.token", "tok-other");
  FakeApp other_app(other.path() / "run" / "kestrum.sock");
  const Words leading{"--data-dir", other.path().string()};

  ASSERT_TRUE(call(leading));
  EXPECT_EQ(app_.connections(), 1u);
  EXPECT_EQ(other_app.connections(), 0u);

  env_.dev = true;
  ASSERT_TRUE(call(leading));
  EXPECT_EQ(app_.connections(), 1u);
  ASSERT_EQ(other_app.messages().size(), 2u);
  EXPECT_EQ(other_app.messages()[0]["params"]["token"], "tok-other");
}

}  // namespace
}  // namespace kestrum::launcher
