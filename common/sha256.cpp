#include "common/sha256.hpp"

#include <sodium/crypto_hash_sha256.h>

namespace kestrum {

std::string sha256_hex(std::string_view bytes) {
  // The hash needs no sodium_init(): that would only cost start-up time.
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * sizeof digest);
  for (unsigned char b : digest) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0F];
  }
  return hex;
}

}  // namespace kestrum
