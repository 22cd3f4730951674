#include "common/sha256.hpp"

namespace kestrum {

std::string sha256_hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * Sha256Digest{}.size());
  for (unsigned char b : sha256(bytes)) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

}  // namespace kestrum
