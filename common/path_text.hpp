// Paths as byte strings, where std::filesystem's own rules differ from what is needed.
#pragma once

#include <string_view>

namespace kestrum {

// The path without trailing "/" and "/." pieces, so that it ends with its file name; "/"
// stays "/".
inline std::string_view without_trailing_separators(std::string_view path) {
  while (path.size() > 1) {
    if (path.ends_with('/')) {
      path.remove_suffix(1);
    } else if (path.ends_with("/.")) {
      path.remove_suffix(2);
    } else {
      break;
    }
  }
  return path;
}

}  // namespace kestrum
