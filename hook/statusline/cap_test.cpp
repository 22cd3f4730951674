#include "hook/statusline/cap.hpp"

#include <gtest/gtest.h>

namespace kestrum::statusline {
namespace {

using std::chrono::milliseconds;

TEST(CapTest, AcceptsPlainAndPlusSignedMillisecondsUpToTenSeconds) {
  EXPECT_EQ(parse_cap("2500"), milliseconds(2500));
  EXPECT_EQ(parse_cap("+2500"), milliseconds(2500));
  EXPECT_EQ(parse_cap("10000"), milliseconds(10000));
  EXPECT_EQ(parse_cap("0"), milliseconds(0));
  EXPECT_EQ(parse_cap("000042"), milliseconds(42));
}

TEST(CapTest, ClampsLargeValuesToTenSeconds) {
  EXPECT_EQ(parse_cap("10001"), milliseconds(10000));
  EXPECT_EQ(parse_cap("60000"), milliseconds(10000));
  EXPECT_EQ(parse_cap("18446744073709551615"), milliseconds(10000));  // 2^64 - 1
}

TEST(CapTest, AnythingElseFallsBackToTenSeconds) {
  for (const char* value : {"", "+", "-5", "-0", "2.5", " 2500", "2500 ", "25OO", "0x10", "++1",
                            "1e3", "18446744073709551616", "99999999999999999999999"}) {
    EXPECT_EQ(parse_cap(value), milliseconds(10000)) << '"' << value << '"';
  }
  EXPECT_EQ(parse_cap(std::nullopt), milliseconds(10000));
  EXPECT_EQ(parse_cap(std::string_view("25\0"
                                       "00",
                                       5)),
            milliseconds(10000));
  EXPECT_EQ(parse_cap("\xff"), milliseconds(10000));
}

}  // namespace
}  // namespace kestrum::statusline
