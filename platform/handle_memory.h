// The system's own movable-handle memory, used for TWAIN handles when no Data Source Manager has
// supplied its allocation call-backs.
#pragma once

#include <cstdint>

namespace platform {

void* handleAlloc(std::uint32_t size); // null when out of memory
void handleFree(void* handle);
void* handleLock(void* handle);
void handleUnlock(void* handle);

} // namespace platform
