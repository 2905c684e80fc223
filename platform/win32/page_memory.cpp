#include "platform/page_memory.h"

#include <windows.h>

namespace platform {

void* allocatePages(std::size_t bytes) {
    if (bytes == 0) {
        return nullptr;
    }
    return VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void freePages(void* block, std::size_t) {
    if (block != nullptr) {
        VirtualFree(block, 0, MEM_RELEASE);
    }
}

} // namespace platform
