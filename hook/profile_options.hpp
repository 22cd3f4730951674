// The "--profile" and "--data-dir" rules shared by the hook's modes and the launcher.
#pragma once

#include <expected>
#include <filesystem>
#include <span>
#include <string>

#include "paths/profile.hpp"

namespace kestrum {

// "--profile <name>" or "--profile=<name>", the last one winning; "kestrum" without one.
std::expected<Profile, PathsError> select_profile(std::span<const std::string> words);

// In development mode the last "--data-dir" pair, when its value is absolute; otherwise
// the data directory under the home directory.
std::filesystem::path choose_data_dir(std::span<const std::string> words,
                                      const std::filesystem::path& home, bool development);

}  // namespace kestrum
