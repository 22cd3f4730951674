#include "common/json.hpp"

#include <algorithm>
#include <vector>

namespace kestrum {
namespace {

// Nesting depth of the brackets outside strings; stops counting once past the limit.
bool nesting_within_limit(std::string_view text) {
  std::size_t depth = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return false;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return true;
}

void write_canonical(const Json& value, std::string& out) {
  if (value.is_object()) {
    // Sorted here rather than trusted to the container, so any object type works.
    std::vector<const std::string*> names;
    names.reserve(value.size());
    for (const auto& [name, _] : value.items()) names.push_back(&name);
    std::ranges::sort(names, [](const auto* a, const auto* b) { return *a < *b; });
    out += '{';
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i) out += ',';
      out += dump_compact(Json(*names[i]));
      out += ':';
      write_canonical(value.at(*names[i]), out);
    }
    out += '}';
  } else if (value.is_array()) {
    out += '[';
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (i) out += ',';
      write_canonical(value[i], out);
    }
    out += ']';
  } else {
    out += dump_compact(value);
  }
}

}  // namespace

std::string canonical_json(const Json& value) {
  std::string out;
  write_canonical(value, out);
  return out;
}

std::optional<Json> parse_json(std::string_view text) {
  // The reader would skip a byte-order mark and stop at a NUL, accepting text that is no
  // JSON text at all.
  if (text.starts_with("\xEF\xBB\xBF") || text.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  if (!nesting_within_limit(text)) return std::nullopt;
  Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::string dump_compact(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

const Json* member(const Json& object, std::string_view name) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(name);
  return it == object.end() ? nullptr : &*it;
}

const std::string* string_member(const Json& object, std::string_view name) {
  const Json* m = member(object, name);
  return m && m->is_string() ? m->get_ptr<const std::string*>() : nullptr;
}

const Json* object_member(const Json& object, std::string_view name) {
  const Json* m = member(object, name);
  return m && m->is_object() ? m : nullptr;
}

}  // namespace kestrum
