#include "common/huge_pages.hpp"

namespace kestrum {

// No such advice for ordinary memory here; the system takes pages as it always does.
void prefer_huge_pages(void* /*data*/, std::size_t /*size*/) {}

}  // namespace kestrum
