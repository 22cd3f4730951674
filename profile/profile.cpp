#include "profile/profile.hpp"

#include <algorithm>

namespace kestrum {
namespace {

bool is_profile_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

// Text between double quotes, with backslash, quote and control characters escaped.
std::string quote_for_display(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (u < 0x20 || u == 0x7F) {
      out += "\\u{";
      if (u >= 0x10) out += kHex[u >> 4];
      out += kHex[u & 0x0F];
      out += '}';
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace

std::expected<Profile, PathsError> Profile::create(std::string_view name) {
  if (name.empty() || name.size() > 12 || !std::ranges::all_of(name, is_profile_byte)) {
    return std::unexpected(PathsError::invalid_name(name));
  }
  return Profile(std::string(name));
}

std::string describe(const PathsError& error) {
  switch (error.kind) {
    case PathsErrorKind::InvalidProfileName:
      return "InvalidProfileName(" + quote_for_display(error.name) + ")";
    case PathsErrorKind::MissingProfileArg:
      return "MissingProfileArg";
    case PathsErrorKind::SocketPathTooLong:
      return "SocketPathTooLong { path: " + quote_for_display(error.path.native()) +
             ", bytes: " + std::to_string(error.bytes) + " }";
  }
  return {};
}

}  // namespace kestrum
