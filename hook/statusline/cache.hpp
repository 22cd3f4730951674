// The per-session cache of the user's last output: written whole or not at all.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrum::statusline {

// Output bytes as shown: invalid UTF-8 replaced by U+FFFD, trailing CR/LF removed;
// nothing when no text remains.
std::optional<std::string> clean_output(std::string_view bytes);

// The cache file's first 65,536 bytes, cleaned; nothing when missing, another user's or
// unreadable.
std::optional<std::string> read_cache(const std::filesystem::path& cache);

// Writes `text` to "<cache>.<pid>" and renames it over the cache. On any failure the old
// cache stays and the temporary file is removed.
bool write_cache(const std::filesystem::path& cache, std::string_view text);

}  // namespace kestrum::statusline
