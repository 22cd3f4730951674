#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestrum::devapp {

struct Options {
  std::filesystem::path home;  // --home, else HOME
  std::string profile = "kestrum";
  std::optional<std::filesystem::path> rules_file;
  std::optional<std::filesystem::path> hook_program;  // --hook, else searched (hook_program.hpp)
  std::optional<std::string> user_statusline;
  std::optional<std::filesystem::path> log_file;
  std::vector<std::string> remote_sessions;
  bool verbose = false;  // every usage report, not only changed figures
  bool help = false;
};

// Fails with a one-line message.
std::expected<Options, std::string> parse_options(int argc, char** argv);

extern const char* const kUsage;

}  // namespace kestrum::devapp
