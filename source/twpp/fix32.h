// TW_FIX32 as a value type: signed whole part, unsigned 1/65536 fraction.
#pragma once

#include "source/twpp/twain.h"

namespace Twpp {

#pragma pack(push, 2)
class Fix32 {
public:
    constexpr Fix32() = default;
    constexpr Fix32(TW_INT16 whole, TW_UINT16 frac) : whole_(whole), frac_(frac) {}
    // Rounds half away from zero, in single precision.
    constexpr Fix32(float value) {
        const float scaled = value >= 0.0f ? value * 65536.0f + 0.5f : value * 65536.0f - 0.5f;
        const auto n = static_cast<TW_INT32>(scaled);
        whole_ = static_cast<TW_INT16>(n >> 16);
        frac_ = static_cast<TW_UINT16>(n & 0xFFFF);
    }
    constexpr explicit Fix32(const TW_FIX32& raw) : whole_(raw.Whole), frac_(raw.Frac) {}

    constexpr TW_INT16 whole() const { return whole_; }
    constexpr TW_UINT16 frac() const { return frac_; }
    constexpr float toFloat() const {
        return static_cast<float>(whole_) + static_cast<float>(frac_) / 65536.0f;
    }
    constexpr TW_FIX32 raw() const { return TW_FIX32{whole_, frac_}; }

    constexpr bool operator==(const Fix32& other) const = default;

private:
    TW_INT16 whole_ = 0;
    TW_UINT16 frac_ = 0;
};
#pragma pack(pop)
static_assert(sizeof(Fix32) == 4);

// The TWAIN boolean: a 16-bit value that is exactly 0 or 1.
#pragma pack(push, 2)
class Bool {
public:
    constexpr Bool() = default;
    constexpr Bool(bool value) : value_(value ? 1 : 0) {}
    constexpr explicit Bool(TW_UINT16 raw) : value_(raw != 0 ? 1 : 0) {}
    constexpr operator bool() const { return value_ != 0; }
    constexpr TW_UINT16 raw() const { return value_ != 0 ? 1 : 0; }
    // Equal when both are zero or both are non-zero.
    constexpr bool operator==(const Bool& other) const { return (value_ != 0) == (other.value_ != 0); }

private:
    TW_UINT16 value_ = 0;
};
#pragma pack(pop)
static_assert(sizeof(Bool) == 2);

enum class Compression : TW_UINT16 { None = TWCP_NONE };
enum class BitOrder : TW_UINT16 { LsbFirst = TWBO_LSBFIRST };
enum class ColorFormat : TW_UINT16 { Chunky = TWPC_CHUNKY };
enum class PixelFlavor : TW_UINT16 { Chocolate = TWPF_CHOCOLATE };
enum class PixelType : TW_UINT16 { Gray = TWPT_GRAY };
enum class Unit : TW_UINT16 { Pixels = TWUN_PIXELS };
enum class ImageFileFormat : TW_UINT16 { Bmp = TWFF_BMP };
enum class XferMech : TW_UINT16 { Native = TWSX_NATIVE, File = TWSX_FILE, Memory = TWSX_MEMORY };

} // namespace Twpp
