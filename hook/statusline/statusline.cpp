#include "hook/statusline/statusline.hpp"

namespace kestrum::statusline {

Outcome run(const std::vector<std::string>&, std::string_view, const Env&) {
  return Outcome::empty();
}

Outcome supervise(const std::vector<std::string>&, std::string_view, const Env&) {
  return Outcome::empty();
}

}  // namespace kestrum::statusline
