#include "appclient/answer_line.hpp"

namespace kestrum {

std::expected<Json, RpcError> parse_answer_line(std::string_view line, Clock::time_point deadline) {
  auto value = parse_json(line, JsonBudget{kMaxAnswerValues, deadline});
  if (value) return std::move(*value);
  return std::unexpected(value.error() == JsonFailure::PastDeadline ? RpcError::Timeout
                                                                    : RpcError::Protocol);
}

}  // namespace kestrum
