// Files a test lays out and reads back.
#pragma once

#include <ctime>
#include <filesystem>
#include <string>

namespace kestrum::testkit {

void write_file(const std::filesystem::path& path, const std::string& content);
std::string read_file(const std::filesystem::path& path);

// Sets the modification time this many seconds into the past (a negative count: the future).
// Throws std::runtime_error when the system refuses.
void age_file(const std::filesystem::path& path, std::time_t seconds);

// The permission bits (07777), or 0 when the path cannot be examined.
unsigned mode_of(const std::filesystem::path& path);

}  // namespace kestrum::testkit
