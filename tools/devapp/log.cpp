#include "tools/devapp/log.hpp"

namespace kestrum::devapp {
namespace {

constexpr std::size_t kShownChars = 160;

std::string shortened(std::string text) {
  if (text.size() > kShownChars) text = text.substr(0, kShownChars) + "…";
  return text;
}

std::string method_of(const Json& message) {
  const std::string* method = string_member(message, "method");
  return method ? *method : "(answer)";
}

}  // namespace

Log::Log(bool colour, std::optional<std::filesystem::path> json_file) : colour_(colour) {
  if (json_file) {
    json_file_ = std::fopen(json_file->c_str(), "we");
    json_ok_ = json_file_ != nullptr;
  }
}

Log::~Log() {
  if (json_file_) std::fclose(json_file_);
}

void Log::emit(const std::string& readable, const char* colour, const Json& record) {
  std::lock_guard lock(mutex_);
  const std::string line = colour_ ? std::string(colour) + readable + "\x1b[0m\n" : readable + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
  if (json_file_) {
    const std::string text = dump_compact(record) + "\n";
    std::fwrite(text.data(), 1, text.size(), json_file_);
    std::fflush(json_file_);
  }
}

void Log::received(std::size_t connection, const std::string& line, const Json& message) {
  const std::string who = "#" + std::to_string(connection);
  if (message.is_null() && line != "null") {
    emit(who + " ← unreadable line: " + shortened(line), "\x1b[31m",
         {{"connection", connection}, {"direction", "in"}, {"garbage", line}});
    return;
  }
  const Json* params = member(message, "params");
  std::string shown = params ? dump_compact(*params) : "";
  if (method_of(message) == "hello" && params) {
    // Who is calling is what matters here; the token stays off the screen.
    const std::string* role = string_member(*params, "role");
    const Json* pid = member(*params, "pid");
    shown = (role ? *role : "?") + " pid " + (pid ? dump_compact(*pid) : "?");
  }
  emit(who + " ← " + method_of(message) + " " + shortened(shown), "\x1b[36m",
       {{"connection", connection}, {"direction", "in"}, {"message", message}});
}

void Log::answered(std::size_t connection, const std::string& method, const Json& answer) {
  emit("#" + std::to_string(connection) + " → " + method + " " + shortened(dump_compact(answer)),
       "\x1b[32m",
       {{"answer", answer}, {"connection", connection}, {"direction", "out"}, {"method", method}});
}

void Log::note(const std::string& text) {
  emit("· " + text, "\x1b[33m", {{"direction", "note"}, {"text", text}});
}

}  // namespace kestrum::devapp
