#include "common/sha256.hpp"

#include <sodium/crypto_hash_sha256.h>

namespace kestrum {

static_assert(crypto_hash_sha256_BYTES == Sha256Digest{}.size());

Sha256Digest sha256(std::string_view bytes) {
  // The hash needs no sodium_init(): that would only cost start-up time.
  Sha256Digest digest{};
  crypto_hash_sha256(digest.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                     bytes.size());
  return digest;
}

}  // namespace kestrum
