#include "cli/child_env.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrum::launch {
namespace {

using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

std::vector<std::string> child(std::vector<const char*> inherited, const AppEnv& app_env = {}) {
  inherited.push_back(nullptr);
  return child_environment(inherited.data(), "/s:/t", app_env);
}

TEST(ChildEnvironment, PathIsReplacedOrAdded) {
  EXPECT_THAT(child({"A=1", "PATH=/usr/bin", "B=2"}), ElementsAre("A=1", "PATH=/s:/t", "B=2"));
  EXPECT_THAT(child({"A=1"}), ElementsAre("A=1", "PATH=/s:/t"));
  // A duplicate PATH further down would otherwise be the one some readers take.
  EXPECT_THAT(child({"PATH=/a", "X=1", "PATH=/b"}), ElementsAre("PATH=/s:/t", "X=1"));
  // PATHX is another variable.
  EXPECT_THAT(child({"PATHX=1"}), ElementsAre("PATHX=1", "PATH=/s:/t"));
}

TEST(ChildEnvironment, KestrumVariablesAreDropped) {
  EXPECT_THAT(
      child({"KESTRUM_SOCKET=/old", "KESTRUM_=x", "KESTRUM=keep", "KESTRUMX=keep",
             "kestrum_socket=keep", "KESTRUM_X\xff=bad", "KESTRUM_NOVALUE", "HOME=/h"}),
      ElementsAre("KESTRUM=keep", "KESTRUMX=keep", "kestrum_socket=keep", "HOME=/h", "PATH=/s:/t"));
}

TEST(ChildEnvironment, AppVariablesComeLastAndReplace) {
  const AppEnv app = {{"CLAUDE_CONFIG_DIR", "/app/cfg"}, {"KESTRUM_SOCKET", "/app.sock"}};
  EXPECT_THAT(child({"CLAUDE_CONFIG_DIR=/mine", "KESTRUM_SOCKET=/old", "V=a=b"}, app),
              UnorderedElementsAre("CLAUDE_CONFIG_DIR=/app/cfg", "V=a=b", "PATH=/s:/t",
                                   "KESTRUM_SOCKET=/app.sock"));
  // Without a reply value the user's CLAUDE_CONFIG_DIR stays.
  EXPECT_THAT(child({"CLAUDE_CONFIG_DIR=/mine"}),
              ElementsAre("CLAUDE_CONFIG_DIR=/mine", "PATH=/s:/t"));
}

TEST(ChildEnvironment, RawBytesOfOtherVariablesAreKept) {
  EXPECT_THAT(child({"V=\xff\xfe", "W="}), ElementsAre("V=\xff\xfe", "W=", "PATH=/s:/t"));
}

}  // namespace
}  // namespace kestrum::launch
