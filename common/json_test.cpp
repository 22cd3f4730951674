#include "common/json.hpp"

#include <gtest/gtest.h>

#include <string>

namespace kestrum {
namespace {

using namespace std::string_literals;

TEST(ParseJson, ABomOrANulAnywhereMakesTheTextInvalid) {
  EXPECT_TRUE(parse_json(R"({"a":1})"));
  for (const std::string& text :
       {"\xEF\xBB\xBF{}"s, "{}\0"s, "{}\0garbage"s, "\0{}"s, "[1,\0 2]"s, "\xEF\xBB\xBF"s}) {
    EXPECT_FALSE(parse_json(text)) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace kestrum
