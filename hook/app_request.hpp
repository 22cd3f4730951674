// What every conversation of one hook event with the app starts from.
#pragma once

#include <chrono>
#include <filesystem>
#include <string_view>

#include "common/json.hpp"

namespace kestrum {

struct AppRequest {
  const std::filesystem::path& socket_path;
  std::string_view method;  // the event's app method
  const Json& identity;     // the greeting's parameters
  const Json& params;       // the method's parameters
  // Connecting, greeting and an ordinary answer.
  std::chrono::nanoseconds request_limit;
  // An answer that waits for a person to decide: never shorter than `request_limit`.
  std::chrono::nanoseconds person_limit;
};

}  // namespace kestrum
