// Handle memory for tests that play the DSM's memory call-backs: it knows which handles are live and
// can be told to fail the next allocations.
#pragma once

#include "source/twpp/memory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

struct TrackedMemory {
    static inline std::set<void*> live;
    static inline int failNext = 0;

    static TW_HANDLE TW_CALLINGSTYLE alloc(TW_UINT32 size) {
        if (failNext > 0) {
            --failNext;
            return nullptr;
        }
        void* block = std::calloc(1, size == 0 ? 1 : size);
        live.insert(block);
        return block;
    }
    static void TW_CALLINGSTYLE free(TW_HANDLE handle) {
        if (live.erase(handle) != 1) {
            ADD_FAILURE() << "freed a handle that is not live";
            return;
        }
        std::free(handle);
    }
    static TW_MEMREF TW_CALLINGSTYLE lock(TW_HANDLE handle) { return handle; }
    static void TW_CALLINGSTYLE unlock(TW_HANDLE) {}

    static TW_ENTRYPOINT entryPoint() {
        TW_ENTRYPOINT entry{};
        entry.DSM_MemAllocate = &alloc;
        entry.DSM_MemFree = &free;
        entry.DSM_MemLock = &lock;
        entry.DSM_MemUnlock = &unlock;
        return entry;
    }
    // Makes these the source's memory call-backs.
    static void install() {
        failNext = 0;
        Twpp::Memory::setCallbacks(entryPoint());
    }
    // Back to the platform's memory; returns how many handles were still live (and frees them).
    static std::size_t uninstall() {
        Twpp::Memory::clearCallbacks();
        Twpp::Memory::setAppOwnedHandle(nullptr);
        const std::size_t leaked = live.size();
        for (void* block : live) {
            std::free(block);
        }
        live.clear();
        return leaked;
    }
};
