#include "launcher/words.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

namespace kestrum::launcher {
namespace {

// Options that would let Claude Code run without the app's settings, reply tools or
// permission mode, or start a conversation the app did not register.
constexpr std::string_view kRefused[] = {
    "-c",
    "-p",
    "--print",
    "--settings",
    "--continue",
    "--session-id",
    "--setting-sources",
    "--strict-mcp-config",
    "--permission-prompt-tool",
    "--dangerously-skip-permissions",
    "--allow-dangerously-skip-permissions",
    "--dangerously-load-development-channels",
};

struct ModeName {
  std::string_view given;
  std::string_view recorded;
};

constexpr ModeName kModes[] = {
    {"auto", "auto"},
    {"plan", "plan"},
    {"default", "default"},
    {"manual", "default"},
    {"acceptEdits", "acceptEdits"},
};

struct SplitWord {
  std::string_view name;
  std::optional<std::string_view> inline_value;
};

// "--name=value" splits at the first "="; single-dash words never do (they are bundles).
SplitWord split_inline(std::string_view word) {
  const std::size_t eq = word.find('=');
  if (eq != std::string_view::npos && eq >= 2 && word.starts_with("--")) {
    return {word.substr(0, eq), word.substr(eq + 1)};
  }
  return {word, std::nullopt};
}

bool is_refused(std::string_view name) {
  return std::ranges::find(kRefused, name) != std::end(kRefused);
}

bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Claude Code reads "-" and letters as a bundle of short options ("-cp" is "-c -p"); a
// letter that takes a value takes the rest of the word, which is then no option.
enum class Bundle { Plain, Refused, Resume };

Bundle classify_bundle(std::string_view word) {
  if (word.size() < 3 || word[0] != '-' || !is_ascii_letter(word[1])) return Bundle::Plain;
  for (std::size_t i = 1; i < word.size(); ++i) {
    switch (word[i]) {
      case 'c':
      case 'p':
        return Bundle::Refused;
      // "-rID" is "--resume ID"; an "r" after other letters would resume a conversation
      // the app cannot name, so it is refused.
      case 'r':
        return i == 1 ? Bundle::Resume : Bundle::Refused;
      case 'd':  // its value is optional, and attached when given
      case 'n':
      case 'w':
        return Bundle::Plain;
      default:
        break;
    }
  }
  return Bundle::Plain;
}

std::optional<std::string_view> recorded_mode(std::string_view value) {
  for (const ModeName& mode : kModes) {
    if (mode.given == value) return mode.recorded;
  }
  return std::nullopt;
}

// Walks the words once; `next` is the index of the first word not yet consumed.
class Parser {
 public:
  explicit Parser(std::span<const std::string> words) : words_(words) {}

  std::expected<LaunchArgs, Refusal> run() {
    while (next_ < words_.size()) {
      const std::string& word = words_[next_++];
      if (word == "--") {
        args_.passthrough.insert(args_.passthrough.end(),
                                 words_.begin() + static_cast<std::ptrdiff_t>(next_ - 1),
                                 words_.end());
        break;
      }
      const SplitWord split = split_inline(word);
      if (is_refused(split.name)) return std::unexpected(Refusal(split.name));
      const Bundle bundle = classify_bundle(word);
      if (bundle == Bundle::Refused) return std::unexpected(Refusal(word));
      if (bundle == Bundle::Resume) {
        if (auto refused = take_resume({"-r", std::string_view(word).substr(2)})) {
          return std::unexpected(std::move(*refused));
        }
      } else if (split.name == "-r" || split.name == "--resume") {
        if (auto refused = take_resume(split)) return std::unexpected(std::move(*refused));
      } else if (split.name == "--permission-mode") {
        if (auto refused = take_mode(split)) return std::unexpected(std::move(*refused));
      } else {
        args_.passthrough.push_back(word);
      }
    }
    return std::move(args_);
  }

 private:
  // The inline value, else the next word (consumed); nothing when the words ran out.
  std::optional<std::string_view> value_of(const SplitWord& split) {
    if (split.inline_value) return split.inline_value;
    if (next_ == words_.size()) return std::nullopt;
    return words_[next_++];
  }

  std::optional<Refusal> take_resume(const SplitWord& split) {
    const auto value = value_of(split);
    // A missing id would make Claude Code offer its own picker, outside the app's view.
    if (!value || value->empty() || value->front() == '-') return Refusal(split.name);
    args_.resume = std::string(*value);
    return std::nullopt;
  }

  std::optional<Refusal> take_mode(const SplitWord& split) {
    const auto value = value_of(split);
    if (!value) return Refusal(split.name);
    const auto mode = recorded_mode(*value);
    if (!mode) return Refusal(std::string(split.name) + " " + std::string(*value));
    args_.mode = std::string(*mode);
    return std::nullopt;
  }

  std::span<const std::string> words_;
  std::size_t next_ = 0;
  LaunchArgs args_;
};

}  // namespace

std::expected<LaunchArgs, Refusal> parse(std::span<const std::string> words) {
  return Parser(words).run();
}

}  // namespace kestrum::launcher
