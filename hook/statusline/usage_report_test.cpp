#include "hook/statusline/usage_report.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kestrum::statusline {
namespace {

std::string report_of(std::string_view status) {
  const auto document = parse_json(status);
  if (!document) throw std::runtime_error("test input is not JSON");
  return dump_compact(build_usage_report(*document));
}

std::optional<std::string> label(std::string_view json_string) {
  const auto value = parse_json(json_string);
  if (!value) throw std::runtime_error("test input is not JSON");
  return clean_label(&*value);
}

TEST(UsageReportTest, ATypicalStatusDocumentIsReshapedCompactly) {
  EXPECT_EQ(
      report_of(R"({"context_window":{"context_window_size":1000000,"current_usage":{"x":1},)"
                R"("remaining_percentage":100,"total_input_tokens":1200,"total_output_tokens":40,)"
                R"("used_percentage":0},"cost":{"total_api_duration_ms":251,)"
                R"("total_cost_usd":0.03934,"total_duration_ms":20832,"total_lines_added":4,)"
                R"("total_lines_removed":0},"cwd":"/w/proj","model":{"display_name":"Opus 5.5",)"
                R"("id":"claude-opus-5-5"},"session_id":"s","rate_limits":{"five_hour":)"
                R"({"resets_at":1796742724,"used_percentage":42},"seven_day":)"
                R"({"resets_at":1797000000,"used_percentage":7.5}}})"),
      R"({"context":{"used_pct":0.0,"window":1000000},"cost":{"input_tokens":1200,)"
      R"("lines_added":4,"lines_removed":0,"output_tokens":40,"usd":0.03934},)"
      R"("five_hour":{"resets_at":1796742724,"used_pct":42.0},)"
      R"("model":{"id":"claude-opus-5-5","name":"Opus 5.5"},)"
      R"("seven_day":{"resets_at":1797000000,"used_pct":7.5}})");
}

TEST(UsageReportTest, NothingUsableGivesAnEmptyObject) {
  for (const char* status : {"null", "[]", "\"text\"", "{}", R"({"session_id":"s"})",
                             R"({"rate_limits":[],"context_window":7,"cost":"x","model":1})"}) {
    EXPECT_EQ(report_of(status), "{}") << status;
  }
}

TEST(UsageReportTest, RateLimitWindowsAreDroppedOneByOne) {
  const auto windows = [](const std::string& five, const std::string& seven) {
    return report_of(R"({"rate_limits":{"five_hour":)" + five + R"(,"seven_day":)" + seven + "}}");
  };
  const std::string good = R"({"resets_at":-5,"used_percentage":12})";
  EXPECT_EQ(windows("7", good), R"({"seven_day":{"resets_at":-5,"used_pct":12.0}})");
  for (const char* bad :
       {R"({"resets_at":1.5,"used_percentage":1})", R"({"resets_at":1e9,"used_percentage":1})",
        R"({"resets_at":9223372036854775808,"used_percentage":1})",
        R"({"resets_at":"1","used_percentage":1})", R"({"used_percentage":1})",
        R"({"resets_at":1,"used_percentage":-1})", R"({"resets_at":1,"used_percentage":"1"})",
        R"({"resets_at":1})"}) {
    EXPECT_EQ(windows(bad, good), R"({"seven_day":{"resets_at":-5,"used_pct":12.0}})") << bad;
  }
  EXPECT_EQ(windows(R"({"resets_at":9223372036854775807,"used_percentage":-0.0})", "null"),
            R"({"five_hour":{"resets_at":9223372036854775807,"used_pct":-0.0}})");
  EXPECT_EQ(windows(R"({"resets_at":-9223372036854775808,"used_percentage":0.5})", "null"),
            R"({"five_hour":{"resets_at":-9223372036854775808,"used_pct":0.5}})");
}

TEST(UsageReportTest, ContextNeedsACountAndSendsAnUnusablePercentageAsNull) {
  const auto context = [](const std::string& members) {
    return report_of(R"({"context_window":{)" + members + "}}");
  };
  EXPECT_EQ(context(R"("context_window_size":200000)"),
            R"({"context":{"used_pct":null,"window":200000}})");
  EXPECT_EQ(context(R"("context_window_size":18446744073709551615,"used_percentage":-3.5)"),
            R"({"context":{"used_pct":-3.5,"window":18446744073709551615}})");
  EXPECT_EQ(context(R"("context_window_size":1,"used_percentage":"5")"),
            R"({"context":{"used_pct":null,"window":1}})");
  EXPECT_EQ(context(R"("context_window_size":1,"used_percentage":7)"),
            R"({"context":{"used_pct":7.0,"window":1}})");
  EXPECT_EQ(context(R"("context_window_size":-0)"), R"({"context":{"used_pct":null,"window":0}})");
  for (const char* size : {"-1", "1000.0", "1e3", "\"5\"", "18446744073709551616", "null"}) {
    EXPECT_EQ(context(std::string(R"("context_window_size":)") + size), "{}") << size;
  }
}

TEST(UsageReportTest, CostIsAllOrNothing) {
  const std::string tokens = R"("total_input_tokens":10,"total_output_tokens":2)";
  const std::string lines = R"("total_lines_added":3,"total_lines_removed":1)";
  const auto cost = [](const std::string& context, const std::string& cost_members) {
    return report_of(R"({"context_window":)" + context + R"(,"cost":{)" + cost_members + "}}");
  };
  EXPECT_EQ(cost("{" + tokens + "}", R"("total_cost_usd":0,)" + lines),
            R"({"cost":{"input_tokens":10,"lines_added":3,"lines_removed":1,)"
            R"("output_tokens":2,"usd":0.0}})");
  EXPECT_EQ(cost("{" + tokens + "}", R"("total_cost_usd":-1.25,)" + lines),
            R"({"cost":{"input_tokens":10,"lines_added":3,"lines_removed":1,)"
            R"("output_tokens":2,"usd":-1.25}})");
  EXPECT_EQ(report_of(R"({"cost":{"total_cost_usd":1,)" + lines + "}}"), "{}");
  EXPECT_EQ(cost("[]", R"("total_cost_usd":1,)" + lines), "{}");
  EXPECT_EQ(cost(R"({"total_input_tokens":10})", R"("total_cost_usd":1,)" + lines), "{}");
  EXPECT_EQ(cost("{" + tokens + "}", R"("total_cost_usd":1,"total_lines_added":3)"), "{}");
  EXPECT_EQ(cost("{" + tokens + "}",
                 R"("total_cost_usd":1,"total_lines_added":-3,"total_lines_removed":1)"),
            "{}");
  EXPECT_EQ(cost("{" + tokens + "}", R"("total_cost_usd":"1",)" + lines), "{}");
  EXPECT_EQ(cost(R"({"total_input_tokens":1.0,"total_output_tokens":2})",
                 R"("total_cost_usd":1,)" + lines),
            "{}");
}

// The parser refuses numbers out of range, but a document built otherwise may hold them.
TEST(UsageReportTest, NonFiniteNumbersAreNeverSent) {
  const double inf = std::numeric_limits<double>::infinity();
  Json status = *parse_json(
      R"({"rate_limits":{"five_hour":{"resets_at":1,"used_percentage":0}},)"
      R"("context_window":{"context_window_size":1,"total_input_tokens":1,)"
      R"("total_output_tokens":1},"cost":{"total_lines_added":1,"total_lines_removed":1}})");
  status["rate_limits"]["five_hour"]["used_percentage"] = inf;
  status["context_window"]["used_percentage"] = std::nan("");
  status["cost"]["total_cost_usd"] = -inf;
  EXPECT_EQ(dump_compact(build_usage_report(status)),
            R"({"context":{"used_pct":null,"window":1}})");
}

TEST(UsageReportTest, ModelNeedsACleanId) {
  EXPECT_EQ(report_of(R"({"model":{"id":" opus ","display_name":"\u200bOpus\u0007 5"}})"),
            R"({"model":{"id":"opus","name":"Opus 5"}})");
  EXPECT_EQ(report_of(R"({"model":{"id":"opus"}})"), R"({"model":{"id":"opus"}})");
  EXPECT_EQ(report_of(R"({"model":{"id":"opus","display_name":" \ufeff "}})"),
            R"({"model":{"id":"opus"}})");
  EXPECT_EQ(report_of(R"({"model":{"id":"opus","display_name":5}})"), R"({"model":{"id":"opus"}})");
  EXPECT_EQ(report_of(R"({"model":{"id":"  \u200b\u200d  ","display_name":"Opus"}})"), "{}");
  EXPECT_EQ(report_of(R"({"model":{"id":7,"display_name":"Opus"}})"), "{}");
  EXPECT_EQ(report_of(R"({"model":{"id":")" + std::string(100, 'm') + R"("}})"),
            R"({"model":{"id":")" + std::string(64, 'm') + R"("}})");
}

TEST(CleanLabelTest, OnlyStringsGiveText) {
  EXPECT_EQ(clean_label(nullptr), std::nullopt);
  EXPECT_EQ(label("3"), std::nullopt);
  EXPECT_EQ(label("null"), std::nullopt);
  EXPECT_EQ(label(R"(["a"])"), std::nullopt);
  EXPECT_EQ(label(R"("")"), std::nullopt);
}

TEST(CleanLabelTest, RemovesControlZeroWidthAndDirectionCharactersAnywhere) {
  EXPECT_EQ(label(R"("a\u0000b\u001fc\u007fd\u0085e\u009ff")"), "abcdef");
  EXPECT_EQ(label(R"("a\u200bb\u200fc\u202ad\u202ee\u2066f\u2069g\ufeffh")"), "abcdefgh");
  // Neighbours of the removed ranges stay.
  EXPECT_EQ(label(R"("a\u00a0b\u200ac\u2010d\u2029e\u2065f\u206ag")"),
            "a\u00a0b\u200ac\u2010d\u2029e\u2065f\u206ag");
}

TEST(CleanLabelTest, TrimsAfterRemovingAndCutsAfterTrimming) {
  EXPECT_EQ(label(R"("\u200b \u00a0 x y \u3000\u200b")"), "x y");
  EXPECT_EQ(label(R"("\t\n")"), std::nullopt);
  EXPECT_EQ(label("\"   " + std::string(70, 'a') + "\""), std::string(64, 'a'));
  std::string korean;
  for (int i = 0; i < 100; ++i) korean += "\uac00";
  const auto cut = label("\"" + korean + "\"");
  ASSERT_TRUE(cut.has_value());
  EXPECT_EQ(*cut, korean.substr(0, 64 * 3));  // 64 characters, 192 bytes
}

}  // namespace
}  // namespace kestrum::statusline
