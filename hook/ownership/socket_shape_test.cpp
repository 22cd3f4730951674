#include "hook/ownership/socket_shape.hpp"

#include <gtest/gtest.h>

namespace kestrum::ownership {
namespace {

TEST(SameSocketPathTest, IgnoresDoubledSlashesDotsAndTrailingSeparators) {
  EXPECT_TRUE(same_socket_path("/d/run/work.sock", "/d/run/work.sock"));
  EXPECT_TRUE(same_socket_path("/d//run/work.sock", "/d/run/work.sock"));
  EXPECT_TRUE(same_socket_path("/d/run/work.sock/.", "/d/run/work.sock"));
  EXPECT_TRUE(same_socket_path("/d/run/work.sock/", "/d/run/work.sock"));
  EXPECT_TRUE(same_socket_path("/d/./run/work.sock", "//d/run//work.sock"));
}

TEST(SameSocketPathTest, TellsOtherPathsApart) {
  EXPECT_FALSE(same_socket_path("/d/run/work.sock", "/d/run/home.sock"));
  EXPECT_FALSE(same_socket_path("/e/run/work.sock", "/d/run/work.sock"));
  EXPECT_FALSE(same_socket_path("d/run/work.sock", "/d/run/work.sock"));
  // ".." is not resolved: the comparison is lexical.
  EXPECT_FALSE(same_socket_path("/d/x/../run/work.sock", "/d/run/work.sock"));
  EXPECT_FALSE(same_socket_path("./run/work.sock", "run/work.sock"));
}

TEST(InstanceSocketTest, AcceptsAProfileSocketInARunDirectory) {
  EXPECT_TRUE(is_instance_socket("/Users/u/Library/Application Support/kestrum/run/work.sock"));
  EXPECT_TRUE(is_instance_socket("/run/a.sock"));
  EXPECT_TRUE(is_instance_socket("/d/run/-.sock"));
  EXPECT_TRUE(is_instance_socket("/d/run/abcdefghij12.sock"));
  EXPECT_TRUE(is_instance_socket("/d//run/./work.sock"));
}

TEST(InstanceSocketTest, RefusesEveryOtherShape) {
  EXPECT_FALSE(is_instance_socket("d/run/work.sock")) << "relative";
  EXPECT_FALSE(is_instance_socket("/d/runs/work.sock")) << "directory not named run";
  EXPECT_FALSE(is_instance_socket("/d/Run/work.sock"));
  EXPECT_FALSE(is_instance_socket("/work.sock")) << "no directory before the name";
  EXPECT_FALSE(is_instance_socket("/d/run/work.socks")) << "longer extension";
  EXPECT_FALSE(is_instance_socket("/d/run/work.soc"));
  EXPECT_FALSE(is_instance_socket("/d/run/work.token"));
  EXPECT_FALSE(is_instance_socket("/d/run/work")) << "no extension";
  EXPECT_FALSE(is_instance_socket("/d/run/.sock")) << "a leading dot is no extension";
  EXPECT_FALSE(is_instance_socket("/d/run/..")) << "not a file name";
  EXPECT_FALSE(is_instance_socket("/d/run/Work.sock")) << "upper case";
  EXPECT_FALSE(is_instance_socket("/d/run/a.b.sock")) << "dot in the profile name";
  EXPECT_FALSE(is_instance_socket("/d/run/abcdefghij123.sock")) << "13 bytes";
  EXPECT_FALSE(is_instance_socket("/d/run/\xff.sock")) << "not UTF-8";
  EXPECT_FALSE(is_instance_socket("/d/run/w\xc3\xa9.sock")) << "not ASCII";
}

TEST(TokenPathBesideTest, ReplacesTheExtension) {
  EXPECT_EQ(token_path_beside("/d/run/work.sock"), "/d/run/work.token");
  EXPECT_EQ(token_path_beside("/d//run/work.sock/."), "/d//run/work.token");
}

}  // namespace
}  // namespace kestrum::ownership
