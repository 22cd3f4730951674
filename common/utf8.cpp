#include "common/utf8.hpp"

namespace kestrum {
namespace {

struct Scan {
  std::size_t length;  // of the valid sequence, or of the invalid maximal subpart (at least 1)
  bool valid;
};

// Follows the table of well-formed byte sequences of the Unicode standard; an invalid
// sequence covers its maximal well-formed prefix, so each becomes one U+FFFD.
Scan scan(std::string_view s, std::size_t pos) {
  const unsigned char b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) return {1, true};
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {1, false};
  }
  for (std::size_t i = 1; i < len; ++i) {
    if (pos + i >= s.size()) return {i, false};
    const unsigned char b = static_cast<unsigned char>(s[pos + i]);
    if (b < (i == 1 ? lo : 0x80) || b > (i == 1 ? hi : 0xBF)) return {i, false};
  }
  return {len, true};
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view rest) {
  if (rest.empty()) return 0;
  const Scan s = scan(rest, 0);
  return s.valid ? s.length : 0;
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Scan s = scan(bytes, pos);
    if (!s.valid) return false;
    pos += s.length;
  }
  return true;
}

std::string to_utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t pos = 0; pos < bytes.size();) {
    const Scan s = scan(bytes, pos);
    if (s.valid) {
      out.append(bytes.substr(pos, s.length));
    } else {
      out += "\xEF\xBF\xBD";
    }
    pos += s.length;
  }
  return out;
}

char32_t next_code_point(std::string_view text, std::size_t& pos) {
  const unsigned char b0 = static_cast<unsigned char>(text[pos]);
  const Scan s = scan(text, pos);
  const std::size_t len = s.length;
  if (!s.valid) {
    pos += len;
    return 0xFFFD;
  }
  char32_t c = len == 1 ? b0 : len == 2 ? (b0 & 0x1Fu) : len == 3 ? (b0 & 0x0Fu) : (b0 & 0x07u);
  for (std::size_t i = 1; i < len; ++i) {
    c = (c << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3Fu);
  }
  pos += len;
  return c;
}

bool is_unicode_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::string_view trim_unicode_whitespace(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin;
    if (!is_unicode_whitespace(next_code_point(text, next))) break;
    begin = next;
  }
  std::size_t end = begin;
  for (std::size_t pos = begin; pos < text.size();) {
    if (!is_unicode_whitespace(next_code_point(text, pos))) end = pos;
  }
  return text.substr(begin, end - begin);
}

std::size_t utf8_prefix_length(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < count && pos < text.size(); ++n) next_code_point(text, pos);
  return pos;
}

}  // namespace kestrum
