// Whether another app instance owns this Claude Code launch, so that the hook stays out.
#pragma once

#include <optional>
#include <string>

#include "profile/env.hpp"
#include "profile/profile_paths.hpp"

namespace kestrum::ownership {

enum class Ownership { NotOwned, OwnedElsewhere };

Ownership launch_ownership(const Env& env, const ProfilePaths& paths,
                           const std::optional<std::string>& session_id);

}  // namespace kestrum::ownership
