#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "hook/messages.hpp"

namespace kestrum {

// What a mode of kestrum-hook hands its entry: the entry alone prints and exits.
struct Outcome {
  std::optional<std::string> out;
  std::optional<std::string> err;
  std::uint32_t status = 0;

  // No text, status 0: Claude Code goes on as if no hook were installed.
  static Outcome empty() { return {}; }
  static Outcome output(std::string text) { return {std::move(text), std::nullopt, 0}; }
  static Outcome blocked(std::string text) { return {std::nullopt, std::move(text), 2}; }
};

inline Outcome config_error() {
  return Outcome::blocked(std::string(kConfigErrorText));
}

// Claude Code's answer, or nothing when the app could not be asked or answered in an
// unexpected shape: the caller then falls back to `app_unreachable`.
using Decided = std::optional<Outcome>;

}  // namespace kestrum
