// Handle memory of the TWAIN exchange. Every container and transfer buffer that the source hands
// to an application goes through the DSM's memory call-backs (DAT_ENTRYPOINT); until the DSM has
// handed them over, the platform's own handle allocation stands in.
//
// All of this is process-wide and touched only on the application's thread (every DS_Entry call
// arrives there), so it carries no lock.
#pragma once

#include "source/twpp/twain.h"

#include <cstddef>

namespace Twpp::Memory {

// Keeps the four memory call-backs of a TW_ENTRYPOINT; when any is missing, none is used.
void setCallbacks(const TW_ENTRYPOINT& entry);
void clearCallbacks();
bool hasCallbacks();

// Null when out of memory.
TW_HANDLE alloc(TW_UINT32 size);
void free(TW_HANDLE handle);
TW_MEMREF lock(TW_HANDLE handle);
void unlock(TW_HANDLE handle);

// The handle the application passed in with the call in progress; never freed by the source.
TW_HANDLE appOwnedHandle();
void setAppOwnedHandle(TW_HANDLE handle);

// Frees a handle unless it is null or the application's own.
void freeUnlessAppOwned(TW_HANDLE handle);

// Records the application's handle for the duration of one call, also when the call throws. The
// handle of an enclosing call (an application calling back into the source from a notification it
// receives during a call) is restored afterwards, so it stays protected for the rest of that call.
class AppOwnedHandleScope {
public:
    explicit AppOwnedHandleScope(TW_HANDLE handle) : previous_(appOwnedHandle()) {
        setAppOwnedHandle(handle);
    }
    ~AppOwnedHandleScope() { setAppOwnedHandle(previous_); }
    AppOwnedHandleScope(const AppOwnedHandleScope&) = delete;
    AppOwnedHandleScope& operator=(const AppOwnedHandleScope&) = delete;

private:
    TW_HANDLE previous_;
};

// A locked view of a handle's block; unlocks when it goes out of scope.
class Lock {
public:
    explicit Lock(TW_HANDLE handle) : handle_(handle), data_(static_cast<char*>(lock(handle))) {}
    ~Lock() {
        if (handle_ != nullptr) {
            unlock(handle_);
        }
    }
    Lock(Lock&& other) noexcept : handle_(other.handle_), data_(other.data_) { other.handle_ = nullptr; }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    Lock& operator=(Lock&&) = delete;
    char* data() const { return data_; }

private:
    TW_HANDLE handle_;
    char* data_;
};

} // namespace Twpp::Memory
