// Replacing this process with Claude Code, so that it keeps the process id the app
// registered.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kestrum::launcher {

// Argument zero is `program` itself. Returns only on failure, with the errno.
int replace_process(const std::filesystem::path& program, const std::vector<std::string>& words,
                    const std::vector<std::string>& environment);

}  // namespace kestrum::launcher
