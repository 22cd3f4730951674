// Claude Code's event JSON through intake and every event's method parameters.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "common/json.hpp"
#include "common/utf8.hpp"
#include "fuzz/check.hpp"
#include "hook/events.hpp"
#include "hook/intake.hpp"
#include "hook/params.hpp"

namespace {

using kestrum::Json;

// Canonical text re-parses to an equal value, and is its own canonical form.
void check_canonical(const Json& value) {
  const std::string text = kestrum::canonical_json(value);
  FUZZ_CHECK(kestrum::is_valid_utf8(text));
  const auto again = kestrum::parse_json(text);
  FUZZ_CHECK(again);
  FUZZ_CHECK(kestrum::canonical_json(*again) == text);
}

bool is_hex_digest(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Json event = kestrum::parse_event(input);
  if (event.is_null()) return 0;
  FUZZ_CHECK(input.find('\0') == std::string_view::npos && !input.starts_with("\xEF\xBB\xBF"));
  check_canonical(event);
  // Member order is not part of the value: the canonical text of a copy built in reverse
  // order is the same.
  if (event.is_object()) {
    Json reversed = Json::object();
    for (auto it = event.items().begin(); it != event.items().end(); ++it) {
      reversed[it.key()] = it.value();
    }
    FUZZ_CHECK(kestrum::canonical_json(reversed) == kestrum::canonical_json(event));
  }
  if (const auto session = kestrum::event_session_id(event)) FUZZ_CHECK(!session->empty());
  if (const auto key = kestrum::tool_key(event)) FUZZ_CHECK(is_hex_digest(*key));

  for (const kestrum::EventKind& kind : kestrum::all_events()) {
    Json taken = event;  // the params take members out of the event they are given
    const Json params = kind.params({kind.name, taken, "/home/u/.claude"});
    FUZZ_CHECK(params.is_object());
    check_canonical(params);
    if (const std::string* prompt = kestrum::string_member(params, "prompt")) {
      // Sent in part, never whole: at most 200 characters of valid UTF-8.
      FUZZ_CHECK(kestrum::is_valid_utf8(*prompt));
      FUZZ_CHECK(kestrum::utf8_prefix_length(*prompt, 200) == prompt->size());
    }
  }
  return 0;
}
