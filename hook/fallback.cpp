#include "hook/fallback.hpp"

#include "profile/marker.hpp"

namespace kestrum {

Outcome app_unreachable(bool blocking, const std::optional<std::string>& session_id,
                        const ProfilePaths& paths) {
  if (!blocking) return Outcome::empty();
  if (session_id && read_marker(paths.remote_marker(*session_id)) == MarkerState::Absent) {
    return Outcome::empty();
  }
  return Outcome::blocked(std::string(kOnHoldText));
}

}  // namespace kestrum
