// Linux: a handle is the block's own address, as with the Linux TWAIN DSM.
#include "platform/handle_memory.h"

#include <cstdlib>

namespace platform {

void* handleAlloc(std::uint32_t size) {
    return std::calloc(1, size == 0 ? 1 : size);
}
void handleFree(void* handle) {
    std::free(handle);
}
void* handleLock(void* handle) {
    return handle;
}
void handleUnlock(void*) {}

} // namespace platform
