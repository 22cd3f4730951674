// Every text kestrum-cli shows the user: one line each, beginning "kestrum: ".
#pragma once

#include <string>
#include <string_view>

#include "launcher/register.hpp"

namespace kestrum::launcher {

inline constexpr std::string_view kVersionLine = "kestrum-cli 0.1.0";
inline constexpr std::string_view kUsageLine = "kestrum: 쓰는 법 — kestrum claude [claude 인자…]";
inline constexpr std::string_view kNotFoundLine =
    "kestrum: 이 기기에 Claude Code 가 없어요. 설치한 뒤 다시 해 주세요";
// The reason given when the app's reply has no usable "args".
inline constexpr std::string_view kUnreadableReply = "앱 응답을 읽지 못했어요";

std::string refusal_line(std::string_view refused);
std::string unregistered_notice(std::string_view reason);
// The system error's text and number, as in "... (os error 2)".
std::string launch_failure_line(int error_number);

// The short reason inside the unregistered notice.
std::string unregistered_reason(const RegisterError& error);

}  // namespace kestrum::launcher
