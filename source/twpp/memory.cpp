#include "source/twpp/memory.h"

#include "platform/handle_memory.h"

namespace Twpp::Memory {

namespace {

DSM_MEMALLOCATE allocCallback = nullptr;
DSM_MEMFREE freeCallback = nullptr;
DSM_MEMLOCK lockCallback = nullptr;
DSM_MEMUNLOCK unlockCallback = nullptr;
TW_HANDLE currentAppHandle = nullptr;

} // namespace

void setCallbacks(const TW_ENTRYPOINT& entry) {
    if (entry.DSM_MemAllocate == nullptr || entry.DSM_MemFree == nullptr || entry.DSM_MemLock == nullptr ||
        entry.DSM_MemUnlock == nullptr) {
        // Half a set of call-backs would pair the DSM's allocation with the platform's release.
        clearCallbacks();
        return;
    }
    allocCallback = entry.DSM_MemAllocate;
    freeCallback = entry.DSM_MemFree;
    lockCallback = entry.DSM_MemLock;
    unlockCallback = entry.DSM_MemUnlock;
}

void clearCallbacks() {
    allocCallback = nullptr;
    freeCallback = nullptr;
    lockCallback = nullptr;
    unlockCallback = nullptr;
}

bool hasCallbacks() {
    return allocCallback != nullptr;
}

TW_HANDLE alloc(TW_UINT32 size) {
    return allocCallback != nullptr ? allocCallback(size) : platform::handleAlloc(size);
}

void free(TW_HANDLE handle) {
    if (handle == nullptr) {
        return;
    }
    if (freeCallback != nullptr) {
        freeCallback(handle);
    } else {
        platform::handleFree(handle);
    }
}

TW_MEMREF lock(TW_HANDLE handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    return lockCallback != nullptr ? lockCallback(handle) : platform::handleLock(handle);
}

void unlock(TW_HANDLE handle) {
    if (handle == nullptr) {
        return;
    }
    if (unlockCallback != nullptr) {
        unlockCallback(handle);
    } else {
        platform::handleUnlock(handle);
    }
}

TW_HANDLE appOwnedHandle() {
    return currentAppHandle;
}
void setAppOwnedHandle(TW_HANDLE handle) {
    currentAppHandle = handle;
}

void freeUnlessAppOwned(TW_HANDLE handle) {
    if (handle != nullptr && handle != currentAppHandle) {
        free(handle);
    }
}

} // namespace Twpp::Memory
