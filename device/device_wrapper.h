// DeviceWrapper: one opened detector together with the shared acquisition records, the
// process-wide wrapper the SDK callback acts on (staticInstance), and the operations that turn the
// SDK's events into images, set up the trigger and tear the detector down.
#pragma once

#include "device/detector.h"
#include "imaging/change_data.h"
#include "imaging/image_holder.h"
#include "imaging/index_handler.h"
#include "imaging/retaker.h"
#include "imaging/ui_state.h"
#include "support/config_file.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>

class QObject;

// Threads: the records below are created with the wrapper and never replaced; each guards itself
// (see their headers). `mutex_` guards the detector reference, the work and temporary folders and
// the dialog pointer, which the application's thread, the connection thread and the SDK callback
// all reach. The dialog itself lives on the application's thread.
class DeviceWrapper {
public:
    // A wrapper without detector, with fresh records and a default configuration.
    DeviceWrapper();
    // The same around an existing detector.
    explicit DeviceWrapper(std::shared_ptr<CDetector> detector);
    ~DeviceWrapper();
    DeviceWrapper(const DeviceWrapper&) = delete;
    DeviceWrapper& operator=(const DeviceWrapper&) = delete;

    // The folder the detector instance was created on.
    std::filesystem::path workFolder() const;
    void setWorkFolder(std::filesystem::path folder);
    // Set to the work folder when that folder is a temporary product copy.
    std::optional<std::filesystem::path> tempFolder() const;
    void setTempFolder(std::optional<std::filesystem::path> folder);

    // Null when no detector is open.
    std::shared_ptr<CDetector> detector() const;
    void setDetector(std::shared_ptr<CDetector> detector);
    // Drops the wrapper's reference and returns it.
    std::shared_ptr<CDetector> releaseDetector();

    // The acquisition dialog, owned while it exists; set and cleared by the data source.
    void setDialog(std::unique_ptr<QObject> dialog);
    std::unique_ptr<QObject> takeDialog();
    bool hasDialog() const;
    // Runs f(dialog) under the wrapper's lock, so that the dialog cannot be taken and destroyed
    // meanwhile; false (f not run) without dialog. f must not call back into the wrapper, and from
    // another thread it may only queue a call to the dialog (a queued invocation runs no slot here).
    template <typename F> bool withDialog(F&& f) {
        std::lock_guard lock(mutex_);
        if (!dialog_) {
            return false;
        }
        std::forward<F>(f)(*dialog_);
        return true;
    }

    // The shared records of the acquisition, created in this order with the wrapper.
    const std::shared_ptr<ImageHolder> images;
    const std::shared_ptr<Retaker> retaker;
    const std::shared_ptr<UIState> state;  // the dialog's requests
    const std::shared_ptr<UIState> state2; // the source's outcome
    const std::shared_ptr<ChangeData> changes;
    const std::shared_ptr<IndexHandler> indices;
    // The settings; the pointer never changes, its content is reloaded and saved by the device
    // layer and the dialog (updateConfigFile in support/config_file.h serialises the file).
    const std::shared_ptr<ConfigFile> config;

private:
    mutable std::mutex mutex_;
    std::filesystem::path workFolder_;
    std::optional<std::filesystem::path> tempFolder_;
    std::shared_ptr<CDetector> detector_;
    std::unique_ptr<QObject> dialog_;
};

// The wrapper the SDK callback and the connection logic act on; empty until the device layer or
// the data source sets it. Reading and replacing it are atomic with respect to each other.
std::shared_ptr<DeviceWrapper> staticInstance();
void setStaticInstance(std::shared_ptr<DeviceWrapper> wrapper);

// Steady-clock nanoseconds at the last exposure start (event 7 of task 1004).
extern std::atomic<std::int64_t> exposureStart;

// Largest image side accepted from the SDK; a descriptor beyond it is taken as corrupt.
inline constexpr int kMaxImageSide = 16384;

// The callback registered with the SDK (CDetector::create); runs on the SDK's thread.
void FPD_CALL SDKCallbackHandlerV2(std::int32_t detectorId, std::int32_t event, std::int32_t level,
                                   const char* message, std::int32_t param1, std::int32_t param2,
                                   std::int32_t dataLength, void* data);

// Stores the frame of an event 1001 (an fpd::ImageDescriptor) in the wrapper's images: into the
// next tile, or into the tile of the next pending retake. A frame without data or of impossible
// size is logged and dropped (the pending retake stays). Returns whether the frame was handed on.
bool onImage(const std::shared_ptr<DeviceWrapper>& wrapper, const void* data);

// Trigger set-up of staticInstance's detector: trigger mode 6, threshold 3, write parameters.
// Every step runs; each failure is logged with the SDK's text.
void configureTrigger();

// Starts a software-triggered acquisition (command 1002, not awaited) on staticInstance's
// detector; false when there is no staticInstance.
bool startSoftwareAcquisition();

// Tears down w's detector unless staticInstance holds the same one (then only w's reference goes).
void deinitIfDifferent(const std::shared_ptr<DeviceWrapper>& w);
// Tears down w's detector and staticInstance's; w may be empty.
void DeinitV2(const std::shared_ptr<DeviceWrapper>& w);
