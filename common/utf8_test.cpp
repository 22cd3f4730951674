#include "common/utf8.hpp"

#include <gtest/gtest.h>

namespace kestrum {
namespace {

TEST(Utf8Test, ValidatesSequences) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain \xED\x95\x9C\xF0\x9F\x98\x80"));
  EXPECT_FALSE(is_valid_utf8("\xC0\x80"));          // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
  EXPECT_FALSE(is_valid_utf8("\xE2\x82"));          // cut short
}

TEST(Utf8Test, ReplacesEachInvalidSequenceOnce) {
  EXPECT_EQ(to_utf8_lossy("a\xFF"
                          "b"),
            "a\xEF\xBF\xBD"
            "b");
  // A truncated three-byte sequence is one replacement, not two.
  EXPECT_EQ(to_utf8_lossy("\xE2\x82z"), "\xEF\xBF\xBDz");
  EXPECT_EQ(to_utf8_lossy("\xC0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(to_utf8_lossy("ok \xED\x95\x9C"), "ok \xED\x95\x9C");
}

TEST(Utf8Test, TrimsUnicodeWhiteSpace) {
  EXPECT_EQ(trim_unicode_whitespace(" \t\n tok en\r\n "), "tok en");
  EXPECT_EQ(trim_unicode_whitespace("\xE3\x80\x80x\xC2\xA0"), "x");      // ideographic space, NBSP
  EXPECT_EQ(trim_unicode_whitespace("\xE2\x80\x8Bx"), "\xE2\x80\x8Bx");  // zero width is not space
  EXPECT_EQ(trim_unicode_whitespace("   "), "");
}

TEST(Utf8Test, CountsPrefixInScalarValues) {
  const std::string korean = "\xED\x95\x9C\xEA\xB8\x80";  // two characters, six bytes
  EXPECT_EQ(utf8_prefix_length(korean, 1), 3u);
  EXPECT_EQ(utf8_prefix_length(korean, 5), 6u);
}

}  // namespace
}  // namespace kestrum
