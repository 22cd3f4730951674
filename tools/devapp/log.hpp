// What the development app prints: one readable line per message it receives and per answer
// it gives (coloured on a terminal), except the routine greetings and unchanged usage reports,
// and optionally every one of them as JSON lines in a file, each with its time. Tokens appear
// in neither.
#pragma once

#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/json.hpp"

namespace kestrum::devapp {

class Log {
 public:
  // `verbose` shows greetings and every usage report; otherwise a usage report shows only
  // when its figures change.
  Log(bool colour, std::optional<std::filesystem::path> json_file, bool verbose = false);
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  bool ok() const { return json_file_ == nullptr || json_ok_; }

  // Replaced by "(redacted)" wherever it would appear, on the screen and in the file.
  void keep_secret(const std::string& secret);

  void received(std::size_t connection, const std::string& line, const Json& message);
  void answered(std::size_t connection, const std::string& method, const Json& answer);
  void note(const std::string& text);

 private:
  void emit(const std::string& readable, const char* colour, Json record, bool shown = true);
  std::string without_secrets(std::string text) const;  // call with mutex_ held
  bool usage_changed(const Json& params);
  std::string caller_of(std::size_t connection);

  std::mutex mutex_;
  bool colour_;
  bool verbose_;
  std::FILE* json_file_ = nullptr;
  bool json_ok_ = false;
  std::vector<std::string> secrets_;
  std::map<std::string, Json> last_usage_;      // by session id
  std::map<std::size_t, std::string> callers_;  // by connection: role and pid from its hello
};

// The time as the log writes it: UTC, ISO 8601, milliseconds.
std::string log_time_now();

// The message with every token member's value replaced by "(redacted)".
Json redacted(Json message);

}  // namespace kestrum::devapp
