#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

inline constexpr std::string_view kConfigErrorText = "kestrum hook 설정 오류";

inline Outcome config_error() {
  return Outcome::blocked(std::string(kConfigErrorText));
}

}  // namespace kestrum
