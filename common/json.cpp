#include "common/json.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "common/huge_pages.hpp"
#include "common/json_reader.hpp"
#include "common/utf8.hpp"

namespace kestrum {
namespace {

// Bytes a JSON string cannot hold as they are: control characters, the quote and the
// backslash. Bytes from 0x80 up start a sequence that is checked as UTF-8.
constexpr std::array<std::uint8_t, 256> kByteClass = [] {
  std::array<std::uint8_t, 256> classes{};
  for (std::size_t c = 0; c < 0x20; ++c) classes[c] = 1;
  classes['"'] = classes['\\'] = 1;
  for (std::size_t c = 0x80; c < 0x100; ++c) classes[c] = 2;
  return classes;
}();

void append_escape(char c, std::string& out) {
  switch (c) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    case '\b':
      out += "\\b";
      return;
    case '\f':
      out += "\\f";
      return;
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  static constexpr char kHex[] = "0123456789abcdef";
  const auto byte = static_cast<unsigned char>(c);
  const char escaped[] = {'\\', 'u', '0', '0', kHex[byte >> 4], kHex[byte & 0xF]};
  out.append(escaped, sizeof escaped);
}

// Runs of bytes that need no escape are copied whole. False, with `out` as it was, when
// the text is not valid UTF-8.
bool append_string(std::string_view text, std::string& out) {
  const std::size_t start = out.size();
  out += '"';
  const char* run = text.data();
  const char* const end = text.data() + text.size();
  for (const char* p = run; p < end;) {
    const std::uint8_t kind = kByteClass[static_cast<unsigned char>(*p)];
    if (kind == 0) {
      ++p;
    } else if (kind == 2) {
      const std::size_t length = utf8_sequence_length(std::string_view(p, end));
      if (length == 0) {
        out.resize(start);
        return false;
      }
      p += length;
    } else {
      out.append(run, p);
      append_escape(*p++, out);
      run = p;
    }
  }
  out.append(run, end);
  out += '"';
  return true;
}

void write_string(const std::string& text, std::string& out) {
  // Invalid UTF-8 is rare: the library's replacement writes it, byte for byte as before.
  if (!append_string(text, out))
    out += Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Room for the text of `value`: its strings' bytes plus a little for escapes and
// punctuation, so that the output is allocated once in the usual case.
std::size_t estimated_size(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string: {
      const std::size_t bytes = value.get_ref<const std::string&>().size();
      return 2 * bytes + 2;  // untouched reserve costs address space, not memory
    }
    case Json::value_t::object: {
      std::size_t total = 2;
      for (const auto& [name, member] : value.items()) {
        total += name.size() + 4 + estimated_size(member);
      }
      return total;
    }
    case Json::value_t::array: {
      std::size_t total = 2;
      for (const Json& element : value) total += 1 + estimated_size(element);
      return total;
    }
    default:
      return 24;
  }
}

// Makes room for `extra` more bytes in `out`, so that it grows once in the usual case.
void make_room(std::string& out, std::size_t extra) {
  out.reserve(out.size() + extra);
  prefer_huge_pages(out.data() + out.size(), out.capacity() - out.size());
}

void write_value(const Json& value, std::string& out, bool sort_names);

void write_object(const Json& value, std::string& out, bool sort_names) {
  // Sorted here rather than trusted to the container, so any object type works.
  std::vector<std::pair<const std::string*, const Json*>> members;
  members.reserve(value.size());
  for (auto it = value.begin(); it != value.end(); ++it) members.emplace_back(&it.key(), &*it);
  if (sort_names)
    std::ranges::sort(members, [](const auto& a, const auto& b) { return *a.first < *b.first; });
  out += '{';
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i) out += ',';
    write_string(*members[i].first, out);
    out += ':';
    write_value(*members[i].second, out, sort_names);
  }
  out += '}';
}

void write_value(const Json& value, std::string& out, bool sort_names) {
  switch (value.type()) {
    case Json::value_t::object:
      write_object(value, out, sort_names);
      return;
    case Json::value_t::array:
      out += '[';
      for (std::size_t i = 0; i < value.size(); ++i) {
        if (i) out += ',';
        write_value(value[i], out, sort_names);
      }
      out += ']';
      return;
    case Json::value_t::string:
      write_string(value.get_ref<const std::string&>(), out);
      return;
    default:
      out += value.dump(-1, ' ', false, Json::error_handler_t::replace);
  }
}

}  // namespace

std::string canonical_json(const Json& value) {
  std::string out;
  make_room(out, estimated_size(value));
  write_value(value, out, true);
  return out;
}

namespace {

// The reader would skip a byte-order mark and stop at a NUL, accepting text that is no
// JSON text at all.
bool readable_as_json(std::string_view text) {
  return !text.starts_with("\xEF\xBB\xBF") && text.find('\0') == std::string_view::npos;
}

}  // namespace

std::optional<Json> parse_json(std::string_view text) {
  if (!readable_as_json(text)) return std::nullopt;
  return read_json_document(text);
}

std::expected<Json, JsonFailure> parse_json(std::string_view text, const JsonBudget& budget) {
  if (!readable_as_json(text)) return std::unexpected(JsonFailure::Invalid);
  return read_json_document(text, budget);
}

std::string dump_compact(const Json& value) {
  std::string out;
  make_room(out, estimated_size(value));
  write_value(value, out, false);
  return out;
}

void append_compact(const Json& value, std::string& out) {
  make_room(out, estimated_size(value));
  write_value(value, out, false);
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
