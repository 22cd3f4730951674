// The hook events kestrum-hook answers, and what each sends to the app.
#pragma once

#include <span>
#include <string_view>

namespace kestrum {

enum class Delivery { Request, Notification };

struct EventKind {
  std::string_view name;    // Claude Code's event name, the hook's first argument
  std::string_view method;  // the app method it is delivered with
  Delivery delivery;
  bool blocking;  // may answer with standard error and exit status 2
};

std::span<const EventKind> all_events();

// Exact, case-sensitive match; nothing for any other word.
const EventKind* find_event(std::string_view name);

bool is_blocking_event(std::string_view name);

}  // namespace kestrum
