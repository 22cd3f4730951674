// The launcher's word filter and the search path it gives Claude Code.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/check.hpp"
#include "launcher/search_path.hpp"
#include "launcher/words.hpp"

namespace {

namespace launcher = kestrum::launcher;

std::vector<std::string> split(std::string_view bytes, char separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= bytes.size();) {
    std::size_t end = bytes.find(separator, start);
    if (end == std::string_view::npos) end = bytes.size();
    parts.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// Would Claude Code read this word as "--continue" or "--print"? Its options without a
// value ("-h", "-v") may come first in a bundle.
bool switches_off_protection(std::string_view word) {
  if (word == "--print" || word == "--continue" || word.starts_with("--print=") ||
      word.starts_with("--continue=")) {
    return true;
  }
  if (word.size() < 2 || word[0] != '-' || word[1] == '-') return false;
  for (char c : word.substr(1)) {
    if (c == 'c' || c == 'p') return true;
    if (c != 'h' && c != 'v') return false;
  }
  return false;
}

void check_words(const std::vector<std::string>& words) {
  const auto parsed = launcher::parse(words);
  if (!parsed) {
    FUZZ_CHECK(!parsed.error().empty());
    return;
  }
  // What passes on keeps its order and comes from the words; before "--" nothing passes
  // that Claude Code would read as a refused option.
  std::size_t next = 0;
  bool after_end = false;
  for (const std::string& word : parsed->passthrough) {
    while (next < words.size() && words[next] != word) ++next;
    FUZZ_CHECK(next < words.size());
    ++next;
    if (word == "--") after_end = true;
    if (!after_end) FUZZ_CHECK(!switches_off_protection(word));
  }
  if (parsed->resume) FUZZ_CHECK(!parsed->resume->empty() && !parsed->resume->starts_with('-'));
}

void check_search_path(const std::string& path, const std::string& home) {
  const std::string joined = launcher::fallback_path(path, std::filesystem::path(home));
  const std::vector<std::string> given = split(path, ':');
  // Never an empty entry (the current directory); a relative one only if PATH had it.
  for (const std::string& entry : split(joined, ':')) {
    FUZZ_CHECK(!entry.empty());
    if (!entry.starts_with('/')) FUZZ_CHECK(std::ranges::find(given, entry) != given.end());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> words = split(input, '\0');
  check_words(words);
  if (words.size() >= 2) check_search_path(words[0], words[1]);
  return 0;
}
