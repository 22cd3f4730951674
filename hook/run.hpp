#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hook/outcome.hpp"
#include "profile/env.hpp"

namespace kestrum {

// One run of kestrum-hook: the argument words after the program path, the standard input
// bytes and the environment, turned into what the entry prints and exits with.
Outcome run(const std::vector<std::string>& args, std::string_view input, const Env& env);

}  // namespace kestrum
