#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kestrum {

enum class MarkerState { Present, Absent, Unknown };

// Tells whether a marker file exists, without following a final symbolic link.
// Only a regular file is Present; only a missing entry is Absent.
MarkerState read_marker(const std::filesystem::path& path);

}  // namespace kestrum
