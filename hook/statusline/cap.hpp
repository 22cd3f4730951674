// How long the supervisor gives the user's command: KESTRUM_STATUSLINE_CAP_MS.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace kestrum::statusline {

// An optional "+" and decimal digits that fit in 64 bits, at most 10,000; anything else
// (including no value) is 10,000 ms.
std::chrono::milliseconds parse_cap(std::optional<std::string_view> value);

std::chrono::milliseconds cap_from_environment();

}  // namespace kestrum::statusline
