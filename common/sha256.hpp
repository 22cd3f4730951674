#pragma once

#include <string>
#include <string_view>

namespace kestrum {

// SHA-256 of the bytes as 64 lowercase hexadecimal digits.
std::string sha256_hex(std::string_view bytes);

}  // namespace kestrum
