// Capability containers for the fuzz targets: a container of any kind (TW_ONEVALUE, TW_ENUMERATION,
// TW_RANGE, TW_ARRAY or none the source knows), any item type, count and current index, as bytes
// exactly as long as its header and items declare, plus a few spare bytes.
#pragma once

#include "source/twpp/capability.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace fuzzing {

using Twpp::kArrayHeader;
using Twpp::kEnumerationHeader;

inline constexpr TW_UINT16 kItemTypes[] = {TWTY_INT8,   TWTY_INT16, TWTY_INT32, TWTY_UINT8, TWTY_UINT16,
                                           TWTY_UINT32, TWTY_BOOL,  TWTY_FIX32, TWTY_FRAME, TWTY_STR32,
                                           TWTY_HANDLE, 0x000a,     0x000b,     0x000c,     0x0d0d};

// Bytes of one item; item types the source does not know get a guess.
inline std::size_t itemSize(TW_UINT16 type) {
    switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    case TWTY_FRAME:
        return 16;
    case TWTY_STR32:
        return 34;
    case TWTY_HANDLE:
        return sizeof(TW_HANDLE);
    default:
        return 4;
    }
}

struct Container {
    TW_UINT16 type = TWON_ONEVALUE;
    TW_UINT16 itemType = TWTY_UINT16;
    std::vector<char> block;
};

inline void put16(std::vector<char>& block, std::size_t at, TW_UINT16 value) {
    if (at + 2 <= block.size()) {
        std::memcpy(block.data() + at, &value, 2);
    }
}
inline void put32(std::vector<char>& block, std::size_t at, TW_UINT32 value) {
    if (at + 4 <= block.size()) {
        std::memcpy(block.data() + at, &value, 4);
    }
}

inline Container makeContainer(FuzzedDataProvider& data) {
    Container c;
    c.type = data.ConsumeIntegralInRange<int>(0, 7) == 0
                 ? data.ConsumeIntegral<TW_UINT16>()
                 : data.PickValueInArray({TWON_ONEVALUE, TWON_ENUMERATION, TWON_RANGE, TWON_ARRAY});
    c.itemType = data.ConsumeBool() ? data.PickValueInArray(kItemTypes) : data.ConsumeIntegral<TW_UINT16>();
    const std::size_t item = itemSize(c.itemType);
    // Mostly a few items; now and then many.
    const TW_UINT32 count = data.ConsumeIntegralInRange<int>(0, 15) == 0
                                ? data.ConsumeIntegralInRange<TW_UINT32>(0, 4096)
                                : data.ConsumeIntegralInRange<TW_UINT32>(0, 4);
    std::size_t size = 0;
    switch (c.type) {
    case TWON_ONEVALUE:
        size = 2 + std::max<std::size_t>(4, item);
        break;
    case TWON_ENUMERATION:
        size = kEnumerationHeader + count * item;
        break;
    case TWON_ARRAY:
        size = kArrayHeader + count * item;
        break;
    case TWON_RANGE:
        size = 2 + 5 * 4;
        break;
    default:
        size = data.ConsumeIntegralInRange<std::size_t>(0, 64);
        break;
    }
    size += data.ConsumeIntegralInRange<std::size_t>(0, 8);
    c.block.resize(size);
    const auto fill = data.ConsumeBytes<char>(size);
    std::copy(fill.begin(), fill.end(), c.block.begin());

    // The header as declared; the current and default indexes of an enumeration may lie anywhere.
    put16(c.block, 0, c.itemType);
    if (c.type == TWON_ENUMERATION || c.type == TWON_ARRAY) {
        put32(c.block, 2, count);
    }
    if (c.type == TWON_ENUMERATION && data.ConsumeBool()) {
        put32(c.block, 6, count == 0 ? 0 : data.ConsumeIntegralInRange<TW_UINT32>(0, count - 1));
    }
    return c;
}

} // namespace fuzzing
