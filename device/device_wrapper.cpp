#include "device/device_wrapper.h"

#include "support/log.h"

#include <QObject>

#include <chrono>

namespace {

// Guards wrapperInstance.
std::mutex staticInstanceMutex;
std::shared_ptr<DeviceWrapper> wrapperInstance;

std::int64_t steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void logFailure(const char* what, const std::shared_ptr<CDetector>& detector, int code) {
    const std::string text = detector ? detector->errorText(code) : std::string(kDetectorNotLoadedText);
    writeString(std::string(what) + text + "\n");
}

void destroyAndFree(const std::shared_ptr<CDetector>& detector) {
    if (detector) {
        detector->destroy();
        detector->freeLibrary();
    }
}

} // namespace

std::atomic<std::int64_t> exposureStart{0};

DeviceWrapper::DeviceWrapper() : DeviceWrapper(nullptr) {}

DeviceWrapper::DeviceWrapper(std::shared_ptr<CDetector> detector)
    : images(std::make_shared<ImageHolder>()), retaker(std::make_shared<Retaker>()),
      state(std::make_shared<UIState>()), state2(std::make_shared<UIState>()),
      changes(std::make_shared<ChangeData>()), indices(std::make_shared<IndexHandler>()),
      config(std::make_shared<ConfigFile>()), detector_(std::move(detector)) {}

DeviceWrapper::~DeviceWrapper() = default;

std::filesystem::path DeviceWrapper::workFolder() const {
    std::lock_guard lock(mutex_);
    return workFolder_;
}

void DeviceWrapper::setWorkFolder(std::filesystem::path folder) {
    std::lock_guard lock(mutex_);
    workFolder_ = std::move(folder);
}

std::optional<std::filesystem::path> DeviceWrapper::tempFolder() const {
    std::lock_guard lock(mutex_);
    return tempFolder_;
}

void DeviceWrapper::setTempFolder(std::optional<std::filesystem::path> folder) {
    std::lock_guard lock(mutex_);
    tempFolder_ = std::move(folder);
}

std::shared_ptr<CDetector> DeviceWrapper::detector() const {
    std::lock_guard lock(mutex_);
    return detector_;
}

void DeviceWrapper::setDetector(std::shared_ptr<CDetector> detector) {
    std::shared_ptr<CDetector> previous;
    std::lock_guard lock(mutex_);
    previous = std::exchange(detector_, std::move(detector));
}

std::shared_ptr<CDetector> DeviceWrapper::releaseDetector() {
    std::lock_guard lock(mutex_);
    return std::exchange(detector_, nullptr);
}

void DeviceWrapper::setDialog(std::unique_ptr<QObject> dialog) {
    std::unique_ptr<QObject> previous;
    {
        std::lock_guard lock(mutex_);
        previous = std::exchange(dialog_, std::move(dialog));
    }
}

std::unique_ptr<QObject> DeviceWrapper::takeDialog() {
    std::lock_guard lock(mutex_);
    return std::exchange(dialog_, nullptr);
}

bool DeviceWrapper::hasDialog() const {
    std::lock_guard lock(mutex_);
    return dialog_ != nullptr;
}

std::shared_ptr<DeviceWrapper> staticInstance() {
    std::lock_guard lock(staticInstanceMutex);
    return wrapperInstance;
}

void setStaticInstance(std::shared_ptr<DeviceWrapper> wrapper) {
    std::shared_ptr<DeviceWrapper> previous;
    std::lock_guard lock(staticInstanceMutex);
    previous = std::exchange(wrapperInstance, std::move(wrapper));
}

void FPD_CALL SDKCallbackHandlerV2(std::int32_t detectorId, std::int32_t event, std::int32_t level,
                                   const char* message, std::int32_t param1, std::int32_t param2,
                                   std::int32_t dataLength, void* data) {
    // An exception must not reach the SDK's thread: it would end the host application.
    try {
        const auto wrapper = staticInstance();
        if (!wrapper) {
            return;
        }
        if (const auto detector = wrapper->detector()) {
            detector->processEvent(detectorId, event, level, message, param1, param2, dataLength, data);
        }
        if (event == fpd::kEvtTaskStarted && param1 == fpd::kCmdAcquisitionTask) {
            exposureStart = steadyNow();
            writeString("Acquiring image...\n");
        } else if (event == fpd::kEvtImageReady) {
            const double elapsed = static_cast<double>(steadyNow() - exposureStart.load()) / 1e6;
            writeLog(
                [elapsed](std::ofstream& out) { out << "Got Image: " << elapsed << " ms" << std::endl; });
            if (const auto current = staticInstance()) {
                onImage(current, data);
            }
        }
    } catch (...) {
    }
}

bool onImage(const std::shared_ptr<DeviceWrapper>& wrapper, const void* data) {
    if (!wrapper) {
        return false;
    }
    const auto* frame = static_cast<const fpd::ImageDescriptor*>(data);
    if (frame == nullptr || frame->pixels == nullptr) {
        writeString("Dropped image: no data");
        return false;
    }
    int width = frame->width;
    int height = frame->height;
    int depth = frame->depth;
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide) {
        writeLog([width, height](std::ofstream& out) {
            out << "Dropped image: width: " << width << " height: " << height << std::endl;
        });
        return false;
    }
    const std::optional<int> index = wrapper->retaker->takeRetake();
    wrapper->images->addImage(width, height, depth, frame->pixels, index, wrapper->indices);
    return true;
}

void configureTrigger() {
    const auto wrapper = staticInstance();
    const auto detector = wrapper ? wrapper->detector() : nullptr;
    const auto step = [&detector](const char* failure, auto&& call) {
        const int result = detector ? call(*detector) : kDeviceNotLoaded;
        if (result != kDeviceOk) {
            logFailure(failure, detector, result);
        }
    };
    step("Set TriggerMode failed:",
         [](CDetector& d) { return d.setAttrInt(fpd::kAttrTriggerModeSetting, 6); });
    step("Set TriggerThreshold failed:",
         [](CDetector& d) { return d.setAttrInt(fpd::kAttrTriggerThreshold, 3); });
    step("Write params failed:", [](CDetector& d) { return d.invokeAndWait(fpd::kCmdWriteParams, 3000); });
}

bool startSoftwareAcquisition() {
    const auto wrapper = staticInstance();
    if (!wrapper) {
        return false;
    }
    writeString("Press [Enter] to acquiring image");
    if (const auto detector = wrapper->detector()) {
        detector->invoke(fpd::kCmdStartAcquisition);
    }
    return true;
}

void deinitIfDifferent(const std::shared_ptr<DeviceWrapper>& w) {
    writeString("destorying device wrapper deinitIfDifferent 1\n");
    if (w) {
        const auto shared = staticInstance();
        const auto detector = w->detector();
        const bool sharedDetector = shared && shared->detector() == detector;
        w->releaseDetector();
        if (!sharedDetector) {
            destroyAndFree(detector);
        }
    }
    writeString("destorying device wrapper deinitIfDifferent 2\n");
}

void DeinitV2(const std::shared_ptr<DeviceWrapper>& w) {
    writeString("destorying device wrapper DeinitV2 1\n");
    const auto shared = staticInstance();
    // Held until the end, so that the last reference never drops on the SDK's thread (inside its
    // callback), where Destroy would wait for that very thread and the library would be unloaded
    // under it. When w is the static instance itself, deinitIfDifferent only lets it go.
    const auto sharedDetector = shared ? shared->detector() : nullptr;
    if ((w && w->detector()) || sharedDetector) {
        deinitIfDifferent(w);
        if (const auto current = staticInstance()) {
            destroyAndFree(current->releaseDetector());
        }
        destroyAndFree(sharedDetector);
    }
    writeString("destorying device wrapper DeinitV2 2\n");
}
