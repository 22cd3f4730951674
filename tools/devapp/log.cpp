#include "tools/devapp/log.hpp"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace kestrum::devapp {
namespace {

constexpr std::size_t kShownChars = 160;
constexpr std::string_view kRedacted = "(redacted)";

bool names_a_token(const std::string& key) {
  return key == "token" || key == "launch_token" || key == "KESTRUM_LAUNCH_TOKEN";
}

std::string shortened(std::string text) {
  if (text.size() > kShownChars) text = text.substr(0, kShownChars) + "…";
  return text;
}

std::string method_of(const Json& message) {
  const std::string* method = string_member(message, "method");
  return method ? *method : "(answer)";
}

}  // namespace

std::string log_time_now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(millis));
  return text;
}

Json redacted(Json message) {
  if (message.is_object()) {
    for (auto& [key, value] : message.items()) {
      value =
          names_a_token(key) && value.is_string() ? Json(kRedacted) : redacted(std::move(value));
    }
  } else if (message.is_array()) {
    for (Json& element : message) element = redacted(std::move(element));
  }
  return message;
}

Log::Log(bool colour, std::optional<std::filesystem::path> json_file, bool verbose)
    : colour_(colour), verbose_(verbose) {
  if (json_file) {
    json_file_ = std::fopen(json_file->c_str(), "we");
    json_ok_ = json_file_ != nullptr;
  }
}

Log::~Log() {
  if (json_file_) std::fclose(json_file_);
}

void Log::keep_secret(const std::string& secret) {
  std::lock_guard lock(mutex_);
  if (!secret.empty()) secrets_.push_back(secret);
}

std::string Log::without_secrets(std::string text) const {
  for (const std::string& secret : secrets_) {
    for (std::size_t at; (at = text.find(secret)) != std::string::npos;) {
      text.replace(at, secret.size(), kRedacted);
    }
  }
  return text;
}

void Log::emit(const std::string& readable, const char* colour, Json record, bool shown) {
  record["time"] = log_time_now();
  std::lock_guard lock(mutex_);
  if (shown) {
    const std::string text = without_secrets(readable);
    const std::string line = colour_ ? std::string(colour) + text + "\x1b[0m\n" : text + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
  if (json_file_) {
    const std::string text = without_secrets(dump_compact(redacted(std::move(record)))) + "\n";
    std::fwrite(text.data(), 1, text.size(), json_file_);
    std::fflush(json_file_);
  }
}

bool Log::usage_changed(const Json& params) {
  const std::string* session = string_member(params, "session_id");
  std::lock_guard lock(mutex_);
  Json& last = last_usage_[session ? *session : ""];
  if (last == params) return false;
  last = params;
  return true;
}

void Log::received(std::size_t connection, const std::string& line, const Json& message) {
  const std::string who = "#" + std::to_string(connection);
  if (message.is_null() && line != "null") {
    emit(who + " ← unreadable line: " + shortened(line), "\x1b[31m",
         {{"connection", connection}, {"direction", "in"}, {"garbage", line}});
    return;
  }
  const Json* params = member(message, "params");
  const std::string method = method_of(message);
  if (method == "hello" && params) {
    // Who is calling is what matters; it leads the connection's later lines.
    const std::string* role = string_member(*params, "role");
    const Json* pid = member(*params, "pid");
    const std::string caller = (role ? *role : "?") + " pid " + (pid ? dump_compact(*pid) : "?");
    {
      std::lock_guard lock(mutex_);
      callers_[connection] = caller;
    }
    emit(who + " ← hello " + caller, "\x1b[36m",
         {{"connection", connection}, {"direction", "in"}, {"message", message}}, verbose_);
    return;
  }
  // Refreshed every second or so: the screen shows a report only when its figures change.
  const bool on_screen = method != "usage_report" || verbose_ || !params || usage_changed(*params);
  emit(who + caller_of(connection) + " ← " + method + " " +
           shortened(params ? dump_compact(redacted(*params)) : ""),
       "\x1b[36m", {{"connection", connection}, {"direction", "in"}, {"message", message}},
       on_screen);
}

std::string Log::caller_of(std::size_t connection) {
  std::lock_guard lock(mutex_);
  const auto it = callers_.find(connection);
  return it == callers_.end() ? "" : " (" + it->second + ")";
}

void Log::answered(std::size_t connection, const std::string& method, const Json& answer) {
  // A greeting accepted is routine; one refused is worth seeing.
  const bool on_screen = method != "hello" || verbose_ || member(answer, "error") != nullptr;
  emit("#" + std::to_string(connection) + " → " + method + " " +
           shortened(dump_compact(redacted(answer))),
       "\x1b[32m",
       {{"answer", answer}, {"connection", connection}, {"direction", "out"}, {"method", method}},
       on_screen);
}

void Log::note(const std::string& text) {
  emit("· " + text, "\x1b[33m", {{"direction", "note"}, {"text", text}});
}

}  // namespace kestrum::devapp
