#include <sys/mman.h>

#include <cstdint>

#include "common/huge_pages.hpp"

namespace kestrum {

void prefer_huge_pages(void* data, std::size_t size) {
  constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t end = (start + size) & ~(kHugePage - 1);
  if (first >= end) return;
  // Refused where transparent huge pages are off: the pages then come as before.
  ::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace kestrum
