// Opening and closing the source: the configuration is read, the detector connected now or later by
// the connection thread, the capability tables built; closing stops the threads and releases the
// detector and the shared records.
#include "device/device_status.h"
#include "device/fpd_sys.h"
#include "platform/module.h"
#include "source/my_source.h"
#include "source/ui_thread.h"
#include "support/config_file.h"
#include "support/log.h"

#include <filesystem>
#include <new>
#include <string>
#include <system_error>

using Twpp::Result;

namespace {

// Without an open detector the physical size is that of the smaller product.
constexpr int kDefaultWidth = 1000;
constexpr int kDefaultHeight = 1500;

// The detector's SDK calls into this module from threads of its own, and may still report an event
// after Destroy, after the DSM has unloaded the data source: from the first open on, the module
// holds a reference to itself, so that it stays loaded until the process ends.
// The reference is never given back: not even at the process's end, when unloading the module
// would pull it from under its own remaining exit handlers. So it lives in storage that is never
// destroyed (nor allocated).
void keepModuleLoaded() {
    alignas(platform::Module) static unsigned char storage[sizeof(platform::Module)];
    static const bool kept = [] {
        const auto file = platform::ownModuleFile();
        const auto* module =
            new (storage) platform::Module(file ? platform::Module::load(*file) : platform::Module());
        if (!*module) {
            writeString("OpenDS: the data source cannot keep itself loaded");
        }
        return module->loaded();
    }();
    static_cast<void>(kept);
}

} // namespace

MySource::MySource() : deviceStatus(std::make_shared<DeviceStatus>()) {}

MySource::~MySource() = default;

std::pair<int, int> MySource::detectorImageSize() const {
    // Only an open detector instance is asked: the connection thread may be creating or releasing
    // one at this very moment, and a size read half-way would differ from one open to the next.
    const auto detector = deviceWrapper ? deviceWrapper->detector() : nullptr;
    if (detector && detector->detectorId() != 0) {
        AttributeBuffer width{};
        AttributeBuffer height{};
        if (detector->getAttr(fpd::kAttrImageWidth, width) == 0 &&
            detector->getAttr(fpd::kAttrImageHeight, height) == 0 && attributeInt(width) > 0 &&
            attributeInt(height) > 0) {
            return {attributeInt(width), attributeInt(height)};
        }
    }
    return {kDefaultWidth, kDefaultHeight};
}

bool MySource::initDevice(std::optional<std::string> deviceNumber) {
    deviceStatus->setModuleAnchor(reinterpret_cast<const void*>(&MySource::entry));
    deviceStatus->setExpectedSerial(deviceNumber);
    bool created = false;
    if (deviceNumber) {
        created = deviceStatus->initDevice(deviceWrapper, deviceNumber, true, std::nullopt);
    } else {
        if (!deviceWrapper) {
            writeString("initDevice deviceWrapper is reset");
            deviceWrapper = std::make_shared<DeviceWrapper>();
        }
        setStaticInstance(deviceWrapper);
        writeString("Ostra device connection deferred");
    }
    deviceStatus->startConnectionThread();
    return created;
}

Result MySource::identityOpenDs(const Identity&) {
    writeString("OpenDS:");
    keepModuleLoaded();
    const ConfigFile config = readConfigFile();
    std::optional<std::string> lastDevice = config.last_serial_number;
    if (lastDevice && lastDevice->empty()) {
        lastDevice.reset();
    }
    const bool created = initDevice(lastDevice);
    writeString(created ? "Ostra created:" : "Ostra device not found");
    if (!deviceWrapper) {
        writeString("identityOpenDs deviceWrapper is reset");
        deviceWrapper = std::make_shared<DeviceWrapper>();
    }
    *deviceWrapper->config = config;

    const auto [width, height] = detectorImageSize();
    capabilities.build(width, height);
    writeString("opends finished:");
    return Twpp::success();
}

Result MySource::identityCloseDs(const Identity&) {
    writeString("identityCloseDs Start");
    deviceStatus->stop(true);
    if (deviceWrapper) {
        deinitIfDifferent(deviceWrapper);
    }
    writeString("identityCloseDs Start 2");
    platform::resetLibrarySearchPath();
    writeString("identityCloseDs Start 3");
    if (deviceWrapper) {
        if (const auto temp = deviceWrapper->tempFolder()) {
            std::error_code ec;
            std::filesystem::remove_all(*temp / "Correct", ec);
        }
    }
    writeString("identityCloseDs Start 4");
    if (deviceWrapper) {
        deviceWrapper->images->resetImages();
        if (const auto held = deviceWrapper->images->discardHeld(); held > 0) {
            writeString("identityCloseDs held images released: " + std::to_string(held));
        }
        deviceWrapper->images->setNextNumber(1);
        deviceWrapper->setTempFolder(std::nullopt);
        deviceWrapper->changes->clear();
    }
    stripLog.flush();
    transferCache.clear();
    memRowOffset = 0;
    if (instanceCount() <= 1) {
        // The last source closes: the user-interface thread ends with it.
        UiThread::instance().stop();
    }
    writeString("identityCloseDs Start 5");
    return Twpp::success();
}
