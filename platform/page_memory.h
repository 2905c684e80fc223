// Large blocks taken straight from the system's pages and given back to the system when they are
// freed, outside the C library's heap. A data source shares its host's heap: blocks of several
// megabytes that come and go there leave the heap larger than the host needs (the allocator keeps
// freed memory for reuse and raises its own limit for direct page allocation as it sees large blocks
// freed), and a source must not change the host's allocator settings to prevent that.
//
//   Windows: VirtualAlloc / VirtualFree.   Linux: mmap / munmap.
#pragma once

#include <cstddef>

namespace platform {

// Zero-filled, page-aligned memory of at least `bytes` bytes; null when the system has none.
void* allocatePages(std::size_t bytes);
// Gives back a block of allocatePages; `bytes` is the size it was asked for. Null does nothing.
void freePages(void* block, std::size_t bytes);

} // namespace platform
