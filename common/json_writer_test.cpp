#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/json.hpp"

namespace kestrum {
namespace {

// The library's own compact writer is the reference: ours must agree byte for byte.
std::string library_text(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::vector<std::string> tricky_strings() {
  std::vector<std::string> texts = {
      "",
      "plain",
      "caf\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x98\x80",  // 2, 3 and 4 byte sequences
      "\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf",  // bounds
      "\x7f/'<>&",
      // Invalid: a lone continuation, overlong forms, a surrogate, past U+10FFFF, cut short.
      "a\x80z",
      "\xc0\x80",
      "\xe0\x80\x80",
      "\xed\xa0\x80",
      "\xf4\x90\x80\x80",
      "\xf5\x80",
      "x\xe2\x9c",
      "\xf0\x9f\x98",
      "ok \xff then \xc3\xa9",
  };
  std::string controls;
  for (int c = 0; c < 0x20; ++c) controls += static_cast<char>(c);
  texts.push_back(controls + "\"\\" + controls);
  texts.push_back(std::string(100000, 'x') + "\"\n\t\\" + std::string(100000, 'y'));
  return texts;
}

TEST(JsonWriterTest, StringsAreWrittenAsTheLibraryWritesThem) {
  for (const std::string& text : tricky_strings()) {
    const Json value(text);
    EXPECT_EQ(dump_compact(value), library_text(value)) << testing::PrintToString(text);
    EXPECT_EQ(canonical_json(value), library_text(value)) << testing::PrintToString(text);
  }
}

TEST(JsonWriterTest, DocumentsAreWrittenAsTheLibraryWritesThem) {
  Json doc = Json::parse(R"({"z":[1,-2,3.5,1e300,18446744073709551615,-9223372036854775808,
      true,false,null,[],{}],"a":{"\n":"x","é":{"b":[{"c":"d"}]},"A":0.1},"":""})");
  for (const std::string& text : tricky_strings()) doc["s"].push_back(Json::object({{text, text}}));
  EXPECT_EQ(dump_compact(doc), library_text(doc));
  // The library's objects are ordered by name already: both forms must be the same text.
  EXPECT_EQ(canonical_json(doc), library_text(doc));

  std::string prefix = "head:";
  append_compact(doc, prefix);
  EXPECT_EQ(prefix, "head:" + library_text(doc));
}

}  // namespace
}  // namespace kestrum
