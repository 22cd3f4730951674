// Finding an executable on a search path, as a shell would, but only in absolute
// directories: a relative entry would make the result depend on where the user stands.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace kestrum {

// The first `dir/name` that is (after following symbolic links) a regular file with an
// execute bit set for anyone. Whether this user may run it is for the exec to find out.
std::optional<std::filesystem::path> find_in_path(std::string_view search_path,
                                                  std::string_view name);

}  // namespace kestrum
