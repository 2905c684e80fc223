// Fuzz target: capability containers as an application hands them to the source. Each input is a
// series of operations, each with a container (TW_ONEVALUE, TW_ENUMERATION, TW_RANGE, TW_ARRAY or no
// known kind, any item type, count and current index) built in handle memory exactly as large as its
// header and items declare (a block shorter than its declaration cannot be told apart from a valid
// one by any source). The container goes to the typed readers and to the source's capability table;
// every answer must be a well-formed container, and a value the table took must read back.
#include "fuzz/containers.h"
#include "source/capabilities.h"
#include "source/twpp/capability.h"
#include "source/twpp/memory.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

using namespace Twpp;
using namespace fuzzing;

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

TW_HANDLE toHandle(const Container& c) {
    TW_HANDLE handle = Memory::alloc(static_cast<TW_UINT32>(c.block.size()));
    require(handle != nullptr);
    Memory::Lock lock(handle);
    if (!c.block.empty()) {
        std::memcpy(lock.data(), c.block.data(), c.block.size());
    }
    return handle;
}

// The typed readers on the application's container: a value, or one of the reader's exceptions.
template <typename T> void readAs(const TW_CAPABILITY& raw, const Container& c) {
    try {
        const T value = readValue<T>(Capability(raw));
        (void)value;
        require(c.type == TWON_ONEVALUE || c.type == TWON_ENUMERATION);
        require(c.itemType == ItemType<T>::value);
    } catch (const CapabilityException&) {
    }
    for (const bool enumeration : {false, true}) {
        try {
            Capability cap(raw);
            const auto view = enumeration ? accessEnumeration<T>(cap) : accessArray<T>(cap);
            for (TW_UINT32 i = 0; i < view.count(); ++i) {
                (void)view.get(i);
            }
        } catch (const CapabilityException&) {
        }
    }
}

// An answer of the table is one of the three containers the source builds, with a known item type
// and indexes inside its items.
void checkAnswer(const TW_CAPABILITY& cap) {
    require(cap.hContainer != nullptr);
    Memory::Lock lock(cap.hContainer);
    TW_UINT16 itemType = 0;
    std::memcpy(&itemType, lock.data(), 2);
    require(itemType == TWTY_INT16 || itemType == TWTY_INT32 || itemType == TWTY_UINT16 ||
            itemType == TWTY_UINT32 || itemType == TWTY_BOOL || itemType == TWTY_FIX32);
    if (cap.ConType == TWON_ENUMERATION) {
        TW_UINT32 header[3];
        std::memcpy(header, lock.data() + 2, sizeof header);
        require(header[0] > 0 && header[1] < header[0] && header[2] < header[0]);
    } else {
        require(cap.ConType == TWON_ONEVALUE || cap.ConType == TWON_ARRAY);
    }
}

// The first `size` bytes of a one-value item, booleans as 0 or 1.
std::vector<char> oneValueItem(const char* block, TW_UINT16 itemType) {
    if (itemType == TWTY_BOOL) {
        TW_UINT16 raw = 0;
        std::memcpy(&raw, block + 2, 2);
        return {raw != 0 ? char(1) : char(0)};
    }
    return std::vector<char>(block + 2, block + 2 + itemSize(itemType));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    Capabilities table;
    table.build(data.ConsumeIntegralInRange<int>(0, 4096), data.ConsumeIntegralInRange<int>(0, 4096));
    const auto ids = table.ids();

    for (int step = 0; step < 32 && data.remaining_bytes() > 0; ++step) {
        TW_CAPABILITY cap{};
        cap.Cap = data.ConsumeIntegralInRange<int>(0, 7) == 0
                      ? data.ConsumeIntegral<TW_UINT16>()
                      : ids[data.ConsumeIntegralInRange<std::size_t>(0, ids.size() - 1)];
        const Container container = makeContainer(data);
        cap.ConType = container.type;
        const bool none = data.ConsumeIntegralInRange<int>(0, 15) == 0;
        TW_HANDLE own = none ? nullptr : toHandle(container);
        cap.hContainer = own;

        if (own != nullptr) {
            Memory::AppOwnedHandleScope scope(own);
            readAs<TW_INT16>(cap, container);
            readAs<TW_INT32>(cap, container);
            readAs<TW_UINT16>(cap, container);
            readAs<TW_UINT32>(cap, container);
            readAs<Bool>(cap, container);
            readAs<Fix32>(cap, container);
        }

        const TW_UINT16 msg = data.ConsumeIntegralInRange<int>(0, 15) == 0
                                  ? data.ConsumeIntegral<TW_UINT16>()
                                  : data.PickValueInArray({MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_SET,
                                                           MSG_RESET, MSG_QUERYSUPPORT, MSG_RESETALL});
        Result result;
        bool threw = false;
        {
            // As the entry point does: the application's handle is its own for the call, and the
            // readers' exceptions end the call.
            Memory::AppOwnedHandleScope scope(own);
            try {
                if (msg == MSG_QUERYSUPPORT) {
                    result = table.querySupport(cap);
                } else if (msg == MSG_RESETALL) {
                    result = table.resetAll();
                } else {
                    result = table.capCommon(msg, cap);
                }
            } catch (const CapabilityException&) {
                threw = true;
            } catch (const std::bad_alloc&) {
                threw = true;
            }
        }

        if (cap.hContainer != own) {
            checkAnswer(cap);
        }
        // A value the table took reads back, for the capabilities whose value is kept.
        if (!threw && msg == MSG_SET && result.succeeded() && own != nullptr &&
            container.type == TWON_ONEVALUE) {
            TW_CAPABILITY current{cap.Cap, TWON_DONTCARE16, nullptr};
            require(table.capCommon(MSG_GETCURRENT, current).succeeded());
            checkAnswer(current);
            {
                Memory::Lock set(own);
                Memory::Lock got(current.hContainer);
                TW_UINT16 gotType = 0;
                std::memcpy(&gotType, got.data(), 2);
                require(gotType == container.itemType);
                require(oneValueItem(set.data(), container.itemType) == oneValueItem(got.data(), gotType));
            }
            Memory::free(current.hContainer);
        }
        if (cap.hContainer != own) {
            Memory::free(cap.hContainer);
        }
        Memory::free(own);
    }
    return 0;
}
