// Compile-time checks of the published layouts of every TWAIN structure and of the detector SDK's
// records: the 32-bit values are the product's (checked by the i686 build), the 64-bit ones those of
// the 64-bit Windows build.
#include "device/fpd_sys.h"
#include "source/twpp/twain.h"

#include <cstddef>

namespace {

constexpr std::size_t layout(std::size_t win64, std::size_t win32) {
    return sizeof(void*) == 4 ? win32 : win64;
}

static_assert(sizeof(TW_FIX32) == 4 && sizeof(TW_FRAME) == 16 && offsetof(TW_FRAME, Bottom) == 12);
static_assert(sizeof(TW_VERSION) == 42 && offsetof(TW_VERSION, Info) == 8);
static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(offsetof(TW_IDENTITY, Version) == 4 && offsetof(TW_IDENTITY, ProtocolMajor) == 46 &&
              offsetof(TW_IDENTITY, SupportedGroups) == 50 && offsetof(TW_IDENTITY, Manufacturer) == 54 &&
              offsetof(TW_IDENTITY, ProductFamily) == 88 && offsetof(TW_IDENTITY, ProductName) == 122);
static_assert(sizeof(TW_STATUS) == 4);
static_assert(sizeof(TW_EVENT) == layout(10, 6) && offsetof(TW_EVENT, TWMessage) == layout(8, 4));
static_assert(sizeof(TW_ENTRYPOINT) == layout(44, 24) && offsetof(TW_ENTRYPOINT, DSM_Entry) == 4 &&
              offsetof(TW_ENTRYPOINT, DSM_MemUnlock) == layout(36, 20));
static_assert(sizeof(TW_CALLBACK) == layout(14, 10) && offsetof(TW_CALLBACK, Message) == layout(12, 8));
static_assert(sizeof(TW_CALLBACK2) == layout(18, 10) && offsetof(TW_CALLBACK2, Message) == layout(16, 8));
static_assert(sizeof(TW_CAPABILITY) == layout(12, 8) && offsetof(TW_CAPABILITY, hContainer) == 4);
static_assert(sizeof(TW_ONEVALUE) == 6 && offsetof(TW_ONEVALUE, Item) == 2);
static_assert(sizeof(TW_ENUMERATION) == 16 && offsetof(TW_ENUMERATION, DefaultIndex) == 10 &&
              offsetof(TW_ENUMERATION, ItemList) == 14);
static_assert(sizeof(TW_ARRAY) == 8 && offsetof(TW_ARRAY, ItemList) == 6);
static_assert(sizeof(TW_RANGE) == 22 && offsetof(TW_RANGE, CurrentValue) == 18);
static_assert(sizeof(TW_PENDINGXFERS) == 6);
static_assert(sizeof(TW_USERINTERFACE) == layout(12, 8) && offsetof(TW_USERINTERFACE, hParent) == 4);
static_assert(sizeof(TW_SETUPMEMXFER) == 12);
static_assert(sizeof(TW_IMAGEINFO) == 42 && offsetof(TW_IMAGEINFO, ImageWidth) == 8 &&
              offsetof(TW_IMAGEINFO, BitsPerSample) == 18 && offsetof(TW_IMAGEINFO, BitsPerPixel) == 34 &&
              offsetof(TW_IMAGEINFO, PixelType) == 38 && offsetof(TW_IMAGEINFO, Compression) == 40);
static_assert(sizeof(TW_IMAGELAYOUT) == 28 && offsetof(TW_IMAGELAYOUT, DocumentNumber) == 16);
static_assert(sizeof(TW_MEMORY) == layout(16, 12) && offsetof(TW_MEMORY, TheMem) == 8);
static_assert(sizeof(TW_IMAGEMEMXFER) == layout(42, 38) && offsetof(TW_IMAGEMEMXFER, BytesPerRow) == 2 &&
              offsetof(TW_IMAGEMEMXFER, Memory) == 26);

static_assert(sizeof(fpd::AttributeValue) == 524 && offsetof(fpd::AttributeValue, text) == 12);
static_assert(sizeof(fpd::CommandParam) == layout(544, 536) && offsetof(fpd::CommandParam, value) == 4 &&
              offsetof(fpd::CommandParam, blockSize) == 528 &&
              offsetof(fpd::CommandParam, block) == layout(536, 532));
static_assert(sizeof(fpd::ErrorInfo) == 516 && offsetof(fpd::ErrorInfo, text) == 4);
static_assert(sizeof(fpd::ImageDescriptor) == layout(24, 16));
static_assert(sizeof(fpd::ProductInfo) == 76 && offsetof(fpd::ProductInfo, name) == 12);

} // namespace
