// The argument and environment arrays that exec and spawn take, built from strings that
// outlive the array: nothing is copied, and the array always ends with a null pointer.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace kestrum {

class ExecArray {
 public:
  ExecArray() : pointers_{nullptr} {}

  // The system's interfaces take char* but never write through it.
  ExecArray& add(const std::string& text) { return add(const_cast<char*>(text.c_str())); }
  ExecArray& add(std::string&&) = delete;  // the text would die before the array
  ExecArray& add(char* text) {
    pointers_.insert(pointers_.end() - 1, text);
    return *this;
  }
  ExecArray& add_all(std::span<const std::string> texts) {
    pointers_.reserve(pointers_.size() + texts.size());
    for (const std::string& text : texts) add(text);
    return *this;
  }

  char* const* get() const { return pointers_.data(); }
  std::size_t size() const { return pointers_.size() - 1; }

 private:
  std::vector<char*> pointers_;
};

}  // namespace kestrum
