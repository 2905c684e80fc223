// CDetector: the binding of the detector SDK (FpdSys) and at most one detector instance.
//
// Results are integer codes and nothing is thrown: 0 success, 6 the binding is not loaded, 9 the
// library or an entry point is missing, 22 an awaited command did not finish in time, any other
// value is the SDK's own code (its text comes from errorText).
#pragma once

#include "device/fpd_sys.h"
#include "platform/auto_reset_event.h"
#include "platform/module.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// Result codes of the device layer.
inline constexpr int kDeviceOk = 0;
inline constexpr int kDeviceNotLoaded = 6;
inline constexpr int kDeviceLibraryMissing = 9;
inline constexpr int kDeviceReopen = 14; // reopen the sensor from its serial folder
inline constexpr int kDeviceTimedOut = 22;
inline constexpr int kDeviceNoSensor = 34; // no sensor can be selected

// Text that errorText gives while the binding is not loaded.
inline constexpr const char* kDetectorNotLoadedText = "Detector library is not loaded";

// The 512-byte value of an attribute read: an int32 or a float32 at its start, or a text.
using AttributeBuffer = std::array<char, fpd::kTextSize>;

std::int32_t attributeInt(const AttributeBuffer& buffer);
float attributeFloat(const AttributeBuffer& buffer);
// The text up to its first NUL, at most 512 characters.
std::string attributeText(const AttributeBuffer& buffer);

class CDetector {
public:
    CDetector();
    // Destroys the instance (as destroy) and frees the library.
    ~CDetector();
    CDetector(const CDetector&) = delete;
    CDetector& operator=(const CDetector&) = delete;

    // Loads "FpdSys" through the library search path (the caller adds the driver folder first) and
    // resolves the nine entry points. 0, or 9 when the library or an entry point is missing (the
    // binding then stays unloaded). 0 at once when already loaded. On failure `error`, when given,
    // receives the loader's own reason (or names the missing entry point).
    int loadLibrary(std::string* error = nullptr);

    // Loads first when needed (returning the load error), then creates a detector instance on the
    // work folder with the callback. An instance still open is destroyed first.
    int create(const std::string& workFolder, fpd::Callback callback);

    // Destroys the instance, if any; returns 0.
    int destroy();

    // Destroys an instance still open, then unloads the library; the binding is unloaded after.
    void freeLibrary();

    // Reads an attribute into buffer. On a non-zero result (6 when not loaded) the buffer is all
    // zeros, so callers read 0 or an empty text.
    int getAttr(int attribute, AttributeBuffer& buffer);
    // Conveniences over getAttr: 0 and "" on failure.
    std::int32_t getAttrInt(int attribute);
    std::string getAttrText(int attribute);

    // Writes an integer attribute; 6 when not loaded.
    int setAttrInt(int attribute, int value);

    // The SDK's text for a code; kDetectorNotLoadedText when not loaded.
    std::string errorText(int code);

    // Issues a command without waiting for its end; 6 when not loaded, else the SDK's result
    // (1: the command continues).
    int invoke(int command);

    // Issues a command and waits up to timeoutMs for its end (event 4 or 5). Returns 6 when not
    // loaded, the SDK's result when it is not 1, 22 on time-out, else the result the callback
    // delivered. Awaited commands of one detector are issued one at a time.
    int invokeAndWait(int command, int timeoutMs);
    // The same with one integer parameter.
    int invokeAndWaitInt(int command, int value, int timeoutMs);

    // Called by the SDK callback, on the SDK's thread: an event 4 or 5 that names the awaited command
    // (param1) of this detector instance stores the command's result (0 for event 4, param2 for
    // event 5) and wakes the waiter. Takes no lock; everything else is ignored.
    void processEvent(std::int32_t detectorId, std::int32_t event, std::int32_t level, const char* message,
                      std::int32_t param1, std::int32_t param2, std::int32_t dataLength, void* data);

    bool loaded() const;
    std::int32_t detectorId() const;

private:
    struct EntryPoints {
        fpd::CreateFn create = nullptr;
        fpd::DestroyFn destroy = nullptr;
        fpd::GetAttrFn getAttr = nullptr;
        fpd::SetAttrFn setAttr = nullptr;
        fpd::InvokeFn invoke = nullptr;
        fpd::AbortFn abort = nullptr;
        fpd::GetErrInfoFn getErrInfo = nullptr;
        fpd::GetProdCountFn getProdCount = nullptr;
        fpd::GetProdListFn getProdList = nullptr;
    };

    int loadLocked(std::string* error = nullptr);
    int destroyLocked();
    void freeLocked();
    int issue(int command, fpd::CommandParam* params, int count, bool wait, int timeoutMs);

    // mutex_ guards library_, entry_, loaded_ and detectorId_; it is held during the SDK's calls
    // but never while waiting for a command's end, and processEvent does not take it, so the SDK
    // may call back while a call is in progress.
    mutable std::mutex mutex_;
    platform::Module library_;
    EntryPoints entry_;
    bool loaded_ = false;
    std::int32_t detectorId_ = 0;

    // Shared with the SDK's thread. awaitedCommand_ is kNoCommand while no command is awaited.
    static constexpr std::int32_t kNoCommand = -1;
    platform::AutoResetEvent done_;
    std::atomic<std::int32_t> awaitedCommand_{kNoCommand};
    std::atomic<std::int32_t> awaitedDetector_{0};
    // processEvent calls under way on the SDK's threads; the destructor waits for them to leave.
    std::atomic<int> eventsInProgress_{0};
    std::atomic<std::int32_t> awaitedResult_{kDeviceTimedOut};
};
