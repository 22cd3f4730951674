#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kestrum {

// The app's token: the file's UTF-8 text with Unicode white space trimmed; nothing when
// the file is missing, unreadable, not UTF-8 or blank.
std::optional<std::string> read_token(const std::filesystem::path& path);

// A small file read whole (at most `limit` bytes), or nothing when it cannot be opened.
std::optional<std::string> read_small_file(const std::filesystem::path& path,
                                           std::size_t limit = 1 << 20);

}  // namespace kestrum
