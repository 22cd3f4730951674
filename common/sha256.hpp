#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kestrum {

using Sha256Digest = std::array<unsigned char, 32>;

// SHA-256 from the system's own library: libsodium on Linux, CommonCrypto on macOS.
Sha256Digest sha256(std::string_view bytes);

// SHA-256 of the bytes as 64 lowercase hexadecimal digits.
std::string sha256_hex(std::string_view bytes);

}  // namespace kestrum
