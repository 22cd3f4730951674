// The hook events kestrum-hook answers: the one place that names them. Adding an event is
// one row of the table in events.cpp.
#pragma once

#include <span>
#include <string_view>

#include "common/json.hpp"
#include "hook/app_request.hpp"
#include "hook/outcome.hpp"
#include "hook/params.hpp"

namespace kestrum {

// Rows are written with designated initializers, so every flag is named where it is set.
// The builder and the deliverer are references: a row without them does not compile.
struct EventKind {
  std::string_view name;          // Claude Code's event name, the hook's first argument
  std::string_view method;        // the app method it is delivered with
  bool blocking = false;          // may answer with standard error and exit status 2
  bool waits_for_person = false;  // its answer may take up to kUserDecisionLimit
  bool ends_session = false;      // the session's skip marker goes with it
  Json (&params)(const EventInput& input);
  // Asks or notifies the app; nothing when it could not, or answered in another shape.
  Decided (&deliver)(const AppRequest& request);
};

std::span<const EventKind> all_events();

// Exact, case-sensitive match; nothing for any other word.
const EventKind* find_event(std::string_view name);

// The params of the named event's method; an empty object for an unknown name.
Json method_params(std::string_view event_name, Json event, std::string_view config_dir);

}  // namespace kestrum
