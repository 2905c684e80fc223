// The detector maker's SDK, FpdSys, as the device layer binds it: its records, its nine entry points
// and the attribute, command and event numbers the driver relies on. The records keep the SDK's
// 32-bit layouts; the library is loaded at run time and nothing here links against it.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define FPD_CALL __stdcall
#else
#define FPD_CALL
#endif

namespace fpd {

inline constexpr std::size_t kTextSize = 512;

// An attribute value: type 0 integer, 1 float, 2 text.
struct AttributeValue {
    std::int32_t type;
    std::int32_t intValue;
    float floatValue;
    char text[kTextSize];
};
static_assert(sizeof(AttributeValue) == 524);

inline constexpr std::int32_t kTypeInt = 0;
inline constexpr std::int32_t kTypeFloat = 1;
inline constexpr std::int32_t kTypeText = 2;

// One parameter of a command: kind 0 passes `value`; the block fields carry bulk data.
struct CommandParam {
    std::int32_t kind;
    AttributeValue value;
    std::uint32_t blockSize;
    void* block;
};
// 536 bytes in the SDK's 32-bit build; the 64-bit build aligns the pointer to 8 bytes.
static_assert(sizeof(CommandParam) == (sizeof(void*) == 4 ? 536 : 544));
static_assert(offsetof(CommandParam, blockSize) == 528);

inline constexpr std::int32_t kParamValue = 0;

struct ErrorInfo {
    std::int32_t code;
    char text[kTextSize];
};
static_assert(sizeof(ErrorInfo) == 516);

// The data of event 1001: the image's width and height in pixels, its sample depth, and the
// 16-bit samples (width x height, row-major, top row first), valid during the callback only.
struct ImageDescriptor {
    std::int32_t width;
    std::int32_t height;
    std::int32_t depth;
    std::uint16_t* pixels;
};
static_assert(offsetof(ImageDescriptor, pixels) == (sizeof(void*) == 4 ? 12 : 16));

// One entry of the SDK's product list.
struct ProductInfo {
    std::int32_t product;
    std::int32_t width;
    std::int32_t height;
    char name[64];
};

// The event callback; the SDK calls it on a thread of its own.
using Callback = void(FPD_CALL*)(std::int32_t detectorId, std::int32_t event, std::int32_t level,
                                 const char* message, std::int32_t param1, std::int32_t param2,
                                 std::int32_t dataLength, void* data);

using CreateFn = std::int32_t(FPD_CALL*)(const char* workFolder, Callback callback, std::int32_t* detectorId);
using DestroyFn = std::int32_t(FPD_CALL*)(std::int32_t detectorId);
using GetAttrFn = std::int32_t(FPD_CALL*)(std::int32_t detectorId, std::int32_t attribute,
                                          AttributeValue* value);
using SetAttrFn = std::int32_t(FPD_CALL*)(std::int32_t detectorId, std::int32_t attribute,
                                          const AttributeValue* value);
using InvokeFn = std::int32_t(FPD_CALL*)(std::int32_t detectorId, std::int32_t command, CommandParam* params,
                                         std::int32_t count);
using AbortFn = std::int32_t(FPD_CALL*)(std::int32_t detectorId);
using GetErrInfoFn = std::int32_t(FPD_CALL*)(std::int32_t code, ErrorInfo* info);
using GetProdCountFn = std::int32_t(FPD_CALL*)(std::int32_t* count);
using GetProdListFn = std::int32_t(FPD_CALL*)(ProductInfo* list, std::int32_t count);

// The library's bare name and its entry points, in binding order.
inline constexpr const char* kLibraryName = "FpdSys";
inline constexpr const char* kEntryPoints[] = {"Create", "Destroy",    "GetAttr",      "SetAttr",    "Invoke",
                                               "Abort",  "GetErrInfo", "GetProdCount", "GetProdList"};

// Results.
inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kPending = 1; // Invoke: the command continues; event 4 or 5 ends it

// Attributes.
inline constexpr std::int32_t kAttrImageWidth = 1003;
inline constexpr std::int32_t kAttrImageHeight = 1004;
inline constexpr std::int32_t kAttrTriggerMode = 2019;        // current mode; 2, 6 and 7 are accepted
inline constexpr std::int32_t kAttrSerialNumber = 2062;       // text
inline constexpr std::int32_t kAttrTriggerModeSetting = 2506; // written as 6
inline constexpr std::int32_t kAttrTriggerThreshold = 2564;   // written as 3
inline constexpr std::int32_t kAttrConnectionState = 5002;    // 1, 2 or 3 = usable

// Commands.
inline constexpr std::int32_t kCmdConnect = 2;
inline constexpr std::int32_t kCmdCorrection = 6;
inline constexpr std::int32_t kCmdStartAcquisition = 1002;
inline constexpr std::int32_t kCmdAcquisitionTask = 1004; // the detector's own; reported in event 7
inline constexpr std::int32_t kCmdWriteParams = 2031;

inline constexpr std::int32_t kCorrectionMode = 0x160000;

// Events.
inline constexpr std::int32_t kEvtCommandFinished = 4; // param1 = command
inline constexpr std::int32_t kEvtCommandFailed = 5;   // param1 = command, param2 = error code
inline constexpr std::int32_t kEvtTaskStarted = 7;     // param1 = 1004: an exposure has begun
inline constexpr std::int32_t kEvtImageReady = 1001;   // data = ImageDescriptor

} // namespace fpd
