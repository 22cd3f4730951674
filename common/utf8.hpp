// UTF-8 helpers for byte strings that came from outside (environment, files, sockets).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrum {

bool is_valid_utf8(std::string_view bytes);

// The length of the valid UTF-8 sequence at the start of `rest`, or 0.
std::size_t utf8_sequence_length(std::string_view rest);

// Decodes bytes as UTF-8, putting U+FFFD in place of each invalid sequence.
std::string to_utf8_lossy(std::string_view bytes);

// Removes Unicode White_Space from both ends of valid UTF-8 text.
std::string_view trim_unicode_whitespace(std::string_view text);

// Byte length of the first `count` scalar values of valid UTF-8 text.
std::size_t utf8_prefix_length(std::string_view text, std::size_t count);

// Decodes the scalar value at `pos` of valid UTF-8 text; `pos` moves past it.
char32_t next_code_point(std::string_view text, std::size_t& pos);

bool is_unicode_whitespace(char32_t c);

}  // namespace kestrum
