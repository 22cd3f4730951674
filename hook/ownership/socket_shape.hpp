// Which socket paths can name another app instance, and where that instance keeps its token.
#pragma once

#include <filesystem>

namespace kestrum::ownership {

// Equal byte for byte or component by component: a doubled "/", a "." component or a
// trailing "/" makes no difference.
bool same_socket_path(const std::filesystem::path& a, const std::filesystem::path& b);

// An absolute ".../run/<profile>.sock" whose file name without the extension is a valid
// profile name.
bool is_instance_socket(const std::filesystem::path& socket);

// The token file beside such a socket: ".../run/<profile>.token".
std::filesystem::path token_path_beside(const std::filesystem::path& socket);

}  // namespace kestrum::ownership
