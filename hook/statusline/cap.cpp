#include "hook/statusline/cap.hpp"

#include <cstdint>
#include <limits>

#include "common/deadline.hpp"
#include "profile/env.hpp"

namespace kestrum::statusline {
namespace {

std::optional<std::uint64_t> parse_unsigned(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::chrono::milliseconds parse_cap(std::optional<std::string_view> value) {
  if (!value) return kMaxUserCommandCap;
  const auto millis = parse_unsigned(*value);
  if (!millis) return kMaxUserCommandCap;
  const auto limit = static_cast<std::uint64_t>(kMaxUserCommandCap.count());
  return std::chrono::milliseconds(static_cast<std::int64_t>(*millis < limit ? *millis : limit));
}

std::chrono::milliseconds cap_from_environment() {
  const auto value = statusline_cap_variable();
  return parse_cap(value ? std::optional<std::string_view>(*value) : std::nullopt);
}

}  // namespace kestrum::statusline
