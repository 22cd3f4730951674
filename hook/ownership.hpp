// Whether another app instance owns this Claude Code launch, so that the hook stays out.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "hook/env.hpp"
#include "paths/profile_paths.hpp"

namespace kestrum {

enum class Ownership { NotOwned, OwnedElsewhere };

Ownership launch_ownership(const Env& env, const ProfilePaths& paths,
                           const std::optional<std::string>& session_id);

// profile_dir/"kestrum-skip-"HASH".json"; nothing without a session id.
std::optional<std::filesystem::path> skip_marker_path(const ProfilePaths& paths,
                                                      const std::optional<std::string>& session_id);

void remove_skip_marker(const std::filesystem::path& path);

}  // namespace kestrum
