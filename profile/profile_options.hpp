// The "--profile" and "--data-dir" rules shared by the hook's modes and the launcher, and
// the profile paths they lead to.
#pragma once

#include <expected>
#include <filesystem>
#include <span>
#include <string>
#include <variant>

#include "profile/env.hpp"
#include "profile/profile.hpp"
#include "profile/profile_paths.hpp"

namespace kestrum {

// "--profile <name>" or "--profile=<name>", the last one winning; "kestrum" without one.
std::expected<Profile, PathsError> select_profile(std::span<const std::string> words);

// In development mode the last "--data-dir" pair, when its value is absolute; otherwise
// the data directory under the home directory.
std::filesystem::path choose_data_dir(std::span<const std::string> words,
                                      const std::filesystem::path& home, bool development);

// HOME is not set: there is no data directory to find.
struct MissingHome {};
using ResolveError = std::variant<PathsError, MissingHome>;

// The selected profile's paths under the chosen data directory.
std::expected<ProfilePaths, ResolveError> resolve_profile_paths(std::span<const std::string> words,
                                                                const ProfileEnv& env);

}  // namespace kestrum
