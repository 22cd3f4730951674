// Reading one of the app's lines into a value at a cost the hook can bear, whatever the
// app sends.
#pragma once

#include <cstddef>
#include <expected>
#include <string_view>

#include "appclient/connection.hpp"
#include "appclient/deadline.hpp"
#include "common/json.hpp"

namespace kestrum {

// Far more values than any answer holds (the largest, a registration's words and
// environment for Claude Code, is bounded by what one program start may carry), and few
// enough to build in a few megabytes.
inline constexpr std::size_t kMaxAnswerValues = 64 * 1024;

// The line's one value; `Protocol` when it is none or holds more than kMaxAnswerValues,
// `Timeout` when building it outlasts the deadline.
std::expected<Json, RpcError> parse_answer_line(std::string_view line, Clock::time_point deadline);

}  // namespace kestrum
