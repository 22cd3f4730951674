#include "profile/token.hpp"

#include "common/fd_io.hpp"
#include "common/utf8.hpp"

namespace kestrum {
namespace {

// Far above any real token; what is beyond it is not read.
constexpr std::size_t kMaxTokenFileBytes = 1 << 20;

}  // namespace

std::optional<std::string> read_token(const std::filesystem::path& path) {
  // The app writes its token where it likes and may link it into place; what sits there
  // must still never block the read.
  auto text = read_named_file(path, kMaxTokenFileBytes, Oversize::Truncate);
  if (!text || !is_valid_utf8(*text)) return std::nullopt;
  const std::string_view token = trim_unicode_whitespace(*text);
  if (token.empty()) return std::nullopt;
  return std::string(token);
}

}  // namespace kestrum
