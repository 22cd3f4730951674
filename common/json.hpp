// JSON as this system reads and writes it: objects keep their members in byte order of
// the names, and every text written is compact.
//
// Rules of the hook's start path, whose cost is the product's latency (scripts/bench):
// - JSON is read with parse_json: an event reader of our own (json_reader.cpp, on
//   RapidJSON) that builds these values directly, much faster than the library's parser.
// - JSON is written with dump_compact, append_compact or canonical_json: a bulk writer of
//   our own that sizes its output once.
// - So Json::parse and .dump( are called nowhere in product code but common/json.cpp and
//   common/json_reader.cpp, for the small pieces they hand on (a number's text, a scalar
//   that is no string, a string that is no UTF-8). scripts/check-rules (its rule
//   start-path), run by scripts/test, fails naming the line where another file calls them.
// - Buffers that may grow to megabytes (the event read, the text written) take 2 MiB pages
//   through prefer_huge_pages (huge_pages.hpp) before their first write.
#pragma once

#include <chrono>
#include <cstddef>
#include <expected>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace kestrum {

using Json = nlohmann::json;

// Deeper documents are refused: the library writes values recursively, and a hostile
// nesting depth must not exhaust the stack.
inline constexpr std::size_t kMaxJsonDepth = 512;

// Exactly one JSON value, white space around it allowed; nothing on any failure.
std::optional<Json> parse_json(std::string_view text);

// Bounds for text from another program: what a value may cost to build.
struct JsonBudget {
  std::size_t max_values;                          // values and member names, in all
  std::chrono::steady_clock::time_point deadline;  // checked as the reading goes
};

enum class JsonFailure { Invalid, TooLarge, PastDeadline };

// As above, but given up as soon as the value outgrows the budget or the deadline passes.
std::expected<Json, JsonFailure> parse_json(std::string_view text, const JsonBudget& budget);

// Compact text; invalid UTF-8 inside strings is written as U+FFFD rather than failing.
std::string dump_compact(const Json& value);
// The same text put at the end of `out`, which grows once for it in the usual case.
void append_compact(const Json& value, std::string& out);

// Compact JSON with member names sorted bytewise at every level, whatever the value's
// own order: the form that is hashed.
std::string canonical_json(const Json& value);

// Typed member lookups: nothing when the value is no object or the member has another type.
const std::string* string_member(const Json& object, std::string_view name);
const Json* object_member(const Json& object, std::string_view name);
const Json* member(const Json& object, std::string_view name);

}  // namespace kestrum
