// What the development app prints: one readable line per message it receives and per answer
// it gives (coloured on a terminal), and optionally the same as JSON lines in a file.
#pragma once

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "common/json.hpp"

namespace kestrum::devapp {

class Log {
 public:
  Log(bool colour, std::optional<std::filesystem::path> json_file);
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  bool ok() const { return json_file_ == nullptr || json_ok_; }

  void received(std::size_t connection, const std::string& line, const Json& message);
  void answered(std::size_t connection, const std::string& method, const Json& answer);
  void note(const std::string& text);

 private:
  void emit(const std::string& readable, const char* colour, const Json& record);

  std::mutex mutex_;
  bool colour_;
  std::FILE* json_file_ = nullptr;
  bool json_ok_ = false;
};

}  // namespace kestrum::devapp
