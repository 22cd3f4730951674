// Claude Code's status JSON through the usage report and the label cleaner.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/json.hpp"
#include "common/utf8.hpp"
#include "fuzz/check.hpp"
#include "hook/statusline/usage_report.hpp"

namespace {

using kestrum::Json;

bool is_unsafe(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

void check_label(const Json* value) {
  const auto label = kestrum::statusline::clean_label(value);
  if (!label) return;
  FUZZ_CHECK(!label->empty());
  FUZZ_CHECK(kestrum::is_valid_utf8(*label));
  FUZZ_CHECK(kestrum::utf8_prefix_length(*label, 64) == label->size());
  // White space is trimmed before the cut at 64 characters, so only a label that was cut
  // may end in some.
  const std::string_view trimmed = kestrum::trim_unicode_whitespace(*label);
  FUZZ_CHECK(trimmed.data() == label->data());
  if (kestrum::utf8_prefix_length(*label, 63) == label->size()) FUZZ_CHECK(trimmed == *label);
  for (std::size_t pos = 0; pos < label->size();) {
    FUZZ_CHECK(!is_unsafe(kestrum::next_code_point(*label, pos)));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto status =
      kestrum::parse_json(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!status) return 0;
  const Json report = kestrum::statusline::build_usage_report(*status);
  FUZZ_CHECK(report.is_object() || report.is_null());
  const auto again = kestrum::parse_json(kestrum::canonical_json(report));
  FUZZ_CHECK(again && *again == report);
  check_label(&*status);
  if (status->is_object()) {
    for (const auto& item : status->items()) check_label(&item.value());
  }
  return 0;
}
