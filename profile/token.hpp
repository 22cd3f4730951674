// The app's token file, which proves to the app that a caller may talk to it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace kestrum {

// The file's UTF-8 text with Unicode white space trimmed; nothing when the file is
// missing, no regular file, unreadable, not UTF-8 or blank. Anything may sit at the path,
// so a FIFO there is refused rather than waited on.
std::optional<std::string> read_token(const std::filesystem::path& path);

}  // namespace kestrum
