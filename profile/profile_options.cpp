#include "profile/profile_options.hpp"

#include <optional>

#include "profile/profile_paths.hpp"

namespace kestrum {

std::expected<Profile, PathsError> select_profile(std::span<const std::string> words) {
  static constexpr std::string_view kInline = "--profile=";
  std::optional<std::string_view> name;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--profile") {
      if (i + 1 == words.size()) {
        return std::unexpected(PathsError::missing_arg());
      }
      name = words[++i];
    } else if (word.starts_with(kInline)) {
      name = std::string_view(word).substr(kInline.size());
    }
  }
  return Profile::create(name.value_or(kDefaultProfile));
}

std::filesystem::path choose_data_dir(std::span<const std::string> words,
                                      const std::filesystem::path& home, bool development) {
  if (development && words.size() >= 2) {
    // Only the last "--data-dir" pair counts; a relative value there falls back.
    for (std::size_t k = words.size() - 1; k-- > 0;) {
      if (words[k] == "--data-dir") {
        if (words[k + 1].starts_with('/')) return words[k + 1];
        break;
      }
    }
  }
  return data_dir(home, development);
}

}  // namespace kestrum

namespace kestrum {

std::expected<ProfilePaths, ResolveError> resolve_profile_paths(std::span<const std::string> words,
                                                                const ProfileEnv& env) {
  const auto profile = select_profile(words);
  if (!profile) return std::unexpected(profile.error());
  if (!env.home) return std::unexpected(MissingHome{});
  auto paths = ProfilePaths::with_root(choose_data_dir(words, *env.home, env.dev), *profile);
  if (!paths) return std::unexpected(paths.error());
  return std::move(*paths);
}

}  // namespace kestrum
