#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/json.hpp"

namespace kestrum {
namespace {

using namespace std::string_literals;

// What the library's own parser makes of `text`: the reference for ours.
std::optional<Json> library_parse(const std::string& text) {
  Json value = Json::parse(text.begin(), text.end(), nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

TEST(JsonParseTest, AgreesWithTheLibraryOnValuesAndRefusals) {
  const std::vector<std::string> texts = {
      R"({"b":[1,-1,-0,1.5,1e2,18446744073709551615,18446744073709551616,-9223372036854775809]})",
      R"({"a":{"x":[true,false,null,"s\n\"\\\/\b\f\r\t\u00e9\ud83d\ude00\u0000"]},"":{}})",
      " \t\r\n[]\n", "\"caf\xc3\xa9\"", R"({"a":1,"a":2})", "0", "-0.0e-0", "1e-400", "[0e200]",
      "0.0e309", "0.000e200", "-9223372036854775808", "9223372036854775808",
      "1.7976931348623157e308",
      // Refused by both.
      "", " ", "{}x", "{},", "[1,]", R"({"a":1,})", "01", "1.", ".5", "1e400", R"({"x":1.0e309})",
      "-", "+1", "tru", "NaN", "[1 2]", R"({"a" 1})", R"("\x")", R"("\u12")", "\"a\tb\"", "[]]",
      "1 2", R"("\U0041")", R"("\ud800")", R"("\ud800\u0041")", "\"\xed\xa0\x80\"", "\"\xc0\x80\"",
      "\"\xf4\x90\x80\x80\"", "\"\xe0\x80\x80\"", "\"\x80\"", "\"\xc3\"", "\x0c{}", "{}\x0b"};
  for (const std::string& text : texts) {
    EXPECT_EQ(parse_json(text), library_parse(text)) << testing::PrintToString(text);
  }
}

TEST(JsonParseTest, KeepsTheThreeKindsOfNumbersApart) {
  const Json value = *parse_json("[7,-7,7.0]");
  EXPECT_TRUE(value[0].is_number_unsigned());
  EXPECT_TRUE(value[1].is_number_integer() && !value[1].is_number_unsigned());
  EXPECT_TRUE(value[2].is_number_float());
}

TEST(JsonParseTest, RefusesALoneLowSurrogate) {
  EXPECT_EQ(parse_json(R"("\udc00")"), std::nullopt);
  EXPECT_EQ(parse_json(R"({"\udfff":1})"), std::nullopt);
  EXPECT_EQ(parse_json("\"\xed\x9f\xbf\""), Json("\xed\x9f\xbf"));  // U+D7FF, just below them
}

// The library skips a byte-order mark and ends the text at a NUL; neither is a JSON text.
TEST(JsonParseTest, ABomOrANulAnywhereMakesTheTextInvalid) {
  for (const std::string& text : {"\xEF\xBB\xBF{}"s, "\xEF\xBB\xBF"s, "{}\0"s, "{}\0x"s, "\0{}"s,
                                  "\"a\0b\""s, "[1,\0 2]"s, "\0"s}) {
    EXPECT_EQ(parse_json(text), std::nullopt) << testing::PrintToString(text);
  }
}

TEST(JsonParseTest, RefusesNestingPastTheLimitWithoutExhaustingTheStack) {
  const auto nested = [](std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
  };
  EXPECT_TRUE(parse_json(nested(kMaxJsonDepth)).has_value());
  EXPECT_FALSE(parse_json(nested(kMaxJsonDepth + 1)).has_value());
  EXPECT_FALSE(parse_json(std::string(1'000'000, '[')).has_value());
  EXPECT_FALSE(parse_json(std::string(500'000, '{') + "\"a\":").has_value());
}

// Text from another program: given up once it costs more than allowed to build.
TEST(JsonParseTest, ABudgetedReadingStopsAtItsBudget) {
  const auto far = std::chrono::steady_clock::now() + std::chrono::hours(1);
  const std::string text = R"({"a":[1,"x",{"b":null}]})";  // 8 values and names
  EXPECT_EQ(parse_json(text, {8, far}).value(), parse_json(text).value());
  EXPECT_EQ(parse_json(text, {7, far}).error(), JsonFailure::TooLarge);
  EXPECT_EQ(parse_json("[1,", {7, far}).error(), JsonFailure::Invalid);

  std::string many = "[";
  for (int i = 0; i < 10'000; ++i) many += "{\"\":0},";
  many += "0]";
  const auto past = std::chrono::steady_clock::now() - std::chrono::milliseconds(1);
  EXPECT_EQ(parse_json(many, {1'000'000, past}).error(), JsonFailure::PastDeadline);
}

// Strings of several MiB are gathered, copied and written in memory of their own.
TEST(JsonParseTest, AStringOfSeveralMebibytesComesBackWhole) {
  std::string escaped, decoded;
  for (std::size_t i = 0; escaped.size() < (std::size_t{3} << 20); ++i) {
    escaped += "line " + std::to_string(i) +
               R"(\t\"caf)"
               "\xc3\xa9"
               R"(\"\n)";
    decoded += "line " + std::to_string(i) + "\t\"caf\xc3\xa9\"\n";
  }
  const std::string document = R"({"content":")" + escaped + R"(","n":1})";
  const auto value = parse_json(document);
  ASSERT_TRUE(value.has_value());
  EXPECT_TRUE((*value)["content"] == decoded);
  EXPECT_EQ(canonical_json(*value), document);
}

}  // namespace
}  // namespace kestrum
