// The parser behind parse_json: a fast event reader that builds the one JSON value type.
#pragma once

#include <expected>
#include <optional>
#include <string_view>

#include "common/json.hpp"

namespace kestrum {

// Exactly one JSON value, white space around it allowed, nested at most kMaxJsonDepth
// deep; nothing on any failure.
std::optional<Json> read_json_document(std::string_view text);

// As above, within the budget (see parse_json).
std::expected<Json, JsonFailure> read_json_document(std::string_view text,
                                                    const JsonBudget& budget);

}  // namespace kestrum
