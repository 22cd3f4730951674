#include "hook/ownership/socket_shape.hpp"

#include <string_view>
#include <vector>

#include "common/path_text.hpp"
#include "common/utf8.hpp"
#include "profile/profile.hpp"

namespace kestrum::ownership {
namespace {

constexpr std::string_view kSocketExtension = "sock";
constexpr std::string_view kTokenExtension = "token";

// A path as its lexical components: separators repeated or trailing and "." components
// vanish, except that a relative path keeps a leading ".".
struct Components {
  bool absolute = false;
  std::vector<std::string_view> names;

  bool operator==(const Components&) const = default;
};

Components components_of(std::string_view path) {
  Components result;
  result.absolute = path.starts_with('/');
  bool first = true;
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    const std::string_view name = path.substr(0, slash);
    const bool keep_leading_dot = first && !result.absolute && name == ".";
    if (!name.empty() && (name != "." || keep_leading_dot)) result.names.push_back(name);
    first = false;
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return result;
}

struct FileName {
  std::string_view stem;
  std::string_view extension;  // empty when the name has none
};

// The extension follows the last "."; a name whose only "." is its first byte, and "..",
// have none.
FileName split_file_name(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (name == ".." || dot == std::string_view::npos || dot == 0) return {name, {}};
  return {name.substr(0, dot), name.substr(dot + 1)};
}

}  // namespace

bool same_socket_path(const std::filesystem::path& a, const std::filesystem::path& b) {
  return a.native() == b.native() || components_of(a.native()) == components_of(b.native());
}

bool is_instance_socket(const std::filesystem::path& socket) {
  const Components parts = components_of(socket.native());
  if (!parts.absolute || parts.names.size() < 2) return false;
  const FileName file = split_file_name(parts.names.back());
  if (file.extension != kSocketExtension) return false;
  if (parts.names[parts.names.size() - 2] != "run") return false;
  return is_valid_utf8(file.stem) && Profile::create(file.stem).has_value();
}

std::filesystem::path token_path_beside(const std::filesystem::path& socket) {
  std::string_view path = without_trailing_separators(socket.native());
  const std::size_t slash = path.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const FileName file = split_file_name(name);
  if (!file.extension.empty()) path.remove_suffix(file.extension.size() + 1);
  std::string token(path);
  token += '.';
  token += kTokenExtension;
  return token;
}

}  // namespace kestrum::ownership
