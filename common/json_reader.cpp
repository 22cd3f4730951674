#include "common/json_reader.hpp"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "common/huge_pages.hpp"

namespace kestrum {
namespace {

// Encoded UTF-16 surrogates (ED A0..BF): the reader lets a lone "\udc00" escape through
// as one, and such a string is not UTF-8.
bool holds_surrogate(const char* bytes, std::size_t size) {
  const char* const end = bytes + size;
  for (const char* p = bytes;
       (p = static_cast<const char*>(std::memchr(p, '\xED', static_cast<std::size_t>(end - p))));) {
    if (++p < end && static_cast<unsigned char>(*p) >= 0xA0) return true;
  }
  return false;
}

// A copy of a string the reader has gathered; one as large as the largest events takes
// large pages before a byte of it is written.
std::string copy_text(const char* s, std::size_t size) {
  std::string text;
  text.reserve(size);
  prefer_huge_pages(text.data(), size);
  text.assign(s, size);
  return text;
}

// The reader's stack, where each string is gathered whole: as large as the event, so it
// too takes large pages for the largest.
struct StackAllocator {
  void* Malloc(std::size_t size) { return size ? Realloc(nullptr, 0, size) : nullptr; }
  void* Realloc(void* old, std::size_t old_size, std::size_t new_size) {
    if (new_size == 0) {
      std::free(old);
      return nullptr;
    }
    void* grown = std::realloc(old, new_size);
    // The reader would write through a null stack: out of memory is an exception here.
    if (!grown) throw std::bad_alloc();
    if (new_size > old_size) {
      prefer_huge_pages(static_cast<char*>(grown) + old_size, new_size - old_size);
    }
    return grown;
  }
  static void Free(void* p) { std::free(p); }
};

// What a budgeted reading may still spend, and why it stopped.
class Spending {
 public:
  explicit Spending(const JsonBudget& budget) : budget_(budget) {}
  bool spend() {
    if (++spent_ > budget_.max_values) return stop(JsonFailure::TooLarge);
    // The clock is cheap, but not free beside a token.
    if (spent_ % kTokensPerClockCheck == 0 &&
        std::chrono::steady_clock::now() >= budget_.deadline) {
      return stop(JsonFailure::PastDeadline);
    }
    return true;
  }
  std::optional<JsonFailure> stopped() const { return stopped_; }

 private:
  static constexpr std::size_t kTokensPerClockCheck = 256;
  bool stop(JsonFailure why) {
    stopped_ = why;
    return false;
  }
  JsonBudget budget_;
  std::size_t spent_ = 0;
  std::optional<JsonFailure> stopped_;
};

// Builds the value from the reader's events. A repeated name keeps its last value.
class Builder : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Builder> {
 public:
  explicit Builder(Spending* spending = nullptr) : spending_(spending) {}

  bool Null() { return put(Json(nullptr)); }
  bool Bool(bool b) { return put(Json(b)); }
  // Numbers come as their text: the reader's own conversion gives wrong values for some
  // valid ones (zero digits with a large exponent) and misses some overflows, while the
  // value type's converter keeps unsigned, signed and floating numbers apart as always.
  bool RawNumber(const char* s, rapidjson::SizeType size, bool /*copy*/) {
    Json number = Json::parse(s, s + size, nullptr, /*allow_exceptions=*/false);
    return !number.is_discarded() && put(std::move(number));
  }
  bool String(const char* s, rapidjson::SizeType size, bool /*copy*/) {
    return !holds_surrogate(s, size) && put(Json(copy_text(s, size)));
  }
  bool Key(const char* s, rapidjson::SizeType size, bool /*copy*/) {
    if (holds_surrogate(s, size) || !afford()) return false;
    key_.assign(s, size);
    return true;
  }
  bool StartObject() { return open(Json::object()); }
  bool EndObject(rapidjson::SizeType /*members*/) { return close(); }
  bool StartArray() { return open(Json::array()); }
  bool EndArray(rapidjson::SizeType /*elements*/) { return close(); }

  Json take() { return std::move(root_); }

 private:
  // Without a budget, everything is affordable.
  bool afford() { return !spending_ || spending_->spend(); }

  // Where a new value goes: the root, the end of the open array, or the open object's
  // member named by the last key.
  Json* place() {
    if (open_.empty()) return &root_;
    Json& container = *open_.back();
    if (container.is_array()) {
      container.push_back(nullptr);
      return &container.back();
    }
    return &container[key_];
  }
  bool put(Json value) {
    if (!afford()) return false;
    *place() = std::move(value);
    return true;
  }
  bool open(Json container) {
    if (open_.size() >= kMaxJsonDepth || !afford()) return false;
    Json* slot = place();
    *slot = std::move(container);
    open_.push_back(slot);
    return true;
  }
  bool close() {
    open_.pop_back();
    return true;
  }

  Spending* spending_;
  Json root_;
  std::vector<Json*> open_;  // the containers being filled, outermost first
  std::string key_;
};

// True when the text is one value; `builder` then holds it.
bool read_into(std::string_view text, Builder& builder) {
  // Iterative: the reader's own stack, not the program's, follows the nesting.
  constexpr unsigned kFlags = rapidjson::kParseValidateEncodingFlag |
                              rapidjson::kParseNumbersAsStringsFlag |
                              rapidjson::kParseIterativeFlag;
  rapidjson::MemoryStream stream(text.data(), text.size());
  // A string is gathered on the reader's stack before it is handed over: room for the
  // longest one from the start spares the copies of growing it (pages are only taken as
  // they are written).
  StackAllocator allocator;
  rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, StackAllocator> reader(
      &allocator, text.size() + 1);
  return !reader.Parse<kFlags>(stream, builder).IsError();
}

}  // namespace

std::optional<Json> read_json_document(std::string_view text) {
  Builder builder;
  if (!read_into(text, builder)) return std::nullopt;
  return builder.take();
}

std::expected<Json, JsonFailure> read_json_document(std::string_view text,
                                                    const JsonBudget& budget) {
  Spending spending(budget);
  Builder builder(&spending);
  if (!read_into(text, builder)) {
    return std::unexpected(spending.stopped().value_or(JsonFailure::Invalid));
  }
  return builder.take();
}

}  // namespace kestrum
