#include "hook/ownership.hpp"

namespace kestrum {

Ownership launch_ownership(const Env&, const ProfilePaths&, const std::optional<std::string>&) {
  return Ownership::NotOwned;
}

}  // namespace kestrum
