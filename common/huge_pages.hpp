// Buffers of many megabytes (the largest events and what is made of them) are otherwise
// taken from the system 4 KiB at a time, and each page taken costs far more than writing
// it. Where the system can, they are taken in pages of 2 MiB instead.
#pragma once

#include <cstddef>

namespace kestrum {

// Asks for large pages under the part of [data, data + size) that covers whole ones. The
// memory must be unused so far; it stays valid whatever the system answers. Cheap to call
// on small buffers, which it leaves alone.
void prefer_huge_pages(void* data, std::size_t size);

}  // namespace kestrum
