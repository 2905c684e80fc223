// Windows: movable global memory, the handles a TWAIN application expects without a DSM allocator.
#include "platform/handle_memory.h"

#include <windows.h>

namespace platform {

void* handleAlloc(std::uint32_t size) {
    return GlobalAlloc(GHND, size == 0 ? 1 : size);
}
void handleFree(void* handle) {
    if (handle != nullptr) {
        GlobalFree(static_cast<HGLOBAL>(handle));
    }
}
void* handleLock(void* handle) {
    return handle != nullptr ? GlobalLock(static_cast<HGLOBAL>(handle)) : nullptr;
}
void handleUnlock(void* handle) {
    if (handle != nullptr) {
        GlobalUnlock(static_cast<HGLOBAL>(handle));
    }
}

} // namespace platform
