#include "common/sha256.hpp"

#include <CommonCrypto/CommonDigest.h>

#include <algorithm>
#include <cstdint>

namespace kestrum {

static_assert(CC_SHA256_DIGEST_LENGTH == Sha256Digest{}.size());

Sha256Digest sha256(std::string_view bytes) {
  // CommonCrypto takes 32-bit lengths: larger inputs go in pieces.
  CC_SHA256_CTX context;
  CC_SHA256_Init(&context);
  while (!bytes.empty()) {
    const std::size_t piece = std::min<std::size_t>(bytes.size(), UINT32_MAX);
    CC_SHA256_Update(&context, bytes.data(), static_cast<CC_LONG>(piece));
    bytes.remove_prefix(piece);
  }
  Sha256Digest digest{};
  CC_SHA256_Final(digest.data(), &context);
  return digest;
}

}  // namespace kestrum
