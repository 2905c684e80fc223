#include "platform/page_memory.h"

#include <sys/mman.h>

namespace platform {

void* allocatePages(std::size_t bytes) {
    if (bytes == 0) {
        return nullptr;
    }
    // The blocks are matrices written whole right away: their pages are made present in one call
    // rather than by a fault on each first write.
    void* block =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

void freePages(void* block, std::size_t bytes) {
    if (block != nullptr) {
        ::munmap(block, bytes);
    }
}

} // namespace platform
