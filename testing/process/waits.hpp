// Waiting in tests for what another process or thread does, without fixed sleeps.
#pragma once

#include <chrono>
#include <functional>

namespace kestrum::testkit {

// Polls every 10 ms until the condition holds (true) or the timeout passes (false).
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace kestrum::testkit
