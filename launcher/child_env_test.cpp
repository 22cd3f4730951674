#include "launcher/child_env.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kestrum::launcher {
namespace {

using ::testing::ElementsAre;

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

TEST(ChildEnvironment, AppVariablesAreSetLast) {
  // A reply setting a KESTRUM_ variable brings it back after the user's own were dropped.
  EXPECT_THAT(child({"KESTRUM_SOCKET=/old", "V=\xff\xfe"}, {{"KESTRUM_SOCKET", "/app.sock"}}),
              ElementsAre("V=\xff\xfe", "PATH=/s:/t", "KESTRUM_SOCKET=/app.sock"));
}

}  // namespace
}  // namespace kestrum::launcher
