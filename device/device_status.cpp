// Opening a sensor: selection, work folders, connect, correction, trigger set-up, the dialog's lamp
// and the serial folder's record in config.json.
#include "device/device_status.h"

#include "device/work_folders.h"
#include "platform/module.h"
#include "platform/sdk_text.h"
#include "support/config_file.h"
#include "support/log.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace fs = std::filesystem;

namespace {

const char* boolText(bool value) {
    return value ? "true" : "false";
}

void logSdkFailure(const std::shared_ptr<CDetector>& detector, int code) {
    const std::string text = detector ? detector->errorText(code) : std::string(kDetectorNotLoadedText);
    writeString("\t\t\t[No ] - error:" + text + "\n");
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The system names a sensor's USB identifier in upper case in its arrival broadcast and in lower case
// in its enumeration, so the map's keys are compared without regard to case (and kept as written).
template <typename Map> auto findUsbId(Map& map, const std::string& usbId) {
    const auto exact = map.find(usbId);
    if (exact != map.end()) {
        return exact;
    }
    return std::find_if(map.begin(), map.end(),
                        [&usbId](const auto& entry) { return sameIgnoringCase(entry.first, usbId); });
}

void recordSerial(ConfigFile& config, const std::string& serial, const std::optional<std::string>& usbId) {
    config.last_serial_number = serial;
    config.previous_serial_numbers.insert(serial);
    if (usbId) {
        auto& map = config.previous_serial_numbers_map;
        if (const auto entry = findUsbId(map, *usbId); entry != map.end()) {
            entry->second = serial;
        } else {
            map[*usbId] = serial;
        }
    }
}

// The serial number the configuration maps a USB identifier to, when it may name a folder.
std::optional<std::string> mappedSerial(const ConfigFile& config, const std::string& usbId) {
    const auto entry = findUsbId(config.previous_serial_numbers_map, usbId);
    if (entry == config.previous_serial_numbers_map.end()) {
        return std::nullopt;
    }
    return acceptedSerial(entry->second);
}

} // namespace

DeviceStatus::DeviceStatus() : usbListener_(std::make_shared<UsbListener>()) {}

void DeviceStatus::setModuleAnchor(const void* anchor) {
    moduleAnchor_.store(anchor);
}

void DeviceStatus::setExpectedSerial(std::optional<std::string> serial) {
    if (serial && !isSafeFolderName(*serial)) {
        serial.reset();
    }
    std::lock_guard lock(mutex_);
    expectedSerial_ = std::move(serial);
}

std::shared_ptr<CDetector> DeviceStatus::detector() const {
    std::lock_guard lock(mutex_);
    return detector_;
}

void DeviceStatus::setDetector(std::shared_ptr<CDetector> detector) {
    std::shared_ptr<CDetector> previous;
    std::lock_guard lock(mutex_);
    previous = std::exchange(detector_, std::move(detector));
}

std::optional<std::string> DeviceStatus::usbId() const {
    std::lock_guard lock(mutex_);
    return usbId_;
}

void DeviceStatus::forgetExpectedSerial(const std::string& serial) {
    std::lock_guard lock(mutex_);
    if (expectedSerial_ == serial) {
        expectedSerial_.reset();
    }
}

bool DeviceStatus::initDevice(std::shared_ptr<DeviceWrapper>& wrapper,
                              std::optional<std::string> expectedSerial, bool strict,
                              std::optional<std::string> usbId) {
    DeviceTurn device(*this);
    writeString("initDevice 1");
    status_ = kStatusStarting;
    const auto module = platform::moduleFileOf(moduleAnchor_.load());
    if (module.failure == platform::ModuleFileLookup::Failure::module) {
        writeString("GetModuleHandle failed, error: " + std::to_string(module.error));
        return false;
    }
    if (module.failure == platform::ModuleFileLookup::Failure::fileName) {
        writeString("GetModuleFileName failed, error: " + std::to_string(module.error));
        return false;
    }
    const auto workRoot = workRootFolder();
    if (!workRoot) {
        return false;
    }

    if (createDetector(*workRoot, wrapper, std::move(expectedSerial), strict, std::move(usbId)) !=
        kDeviceOk) {
        writeString("create detector failed");
        if (idle_.load()) {
            DeinitV2(wrapper);
        }
        writeString("create detector failed 2");
        setDetector(nullptr);
        writeString("create detector failed 3");
        return false;
    }

    writeString("set Params");
    configureTrigger();
    writeString("get trigger mode");
    const auto opened = detector();
    const int mode = opened ? opened->getAttrInt(fpd::kAttrTriggerMode) : 0;
    if (mode == 6 || mode == 7) {
        writeString("Please expose to acquiring image\n");
    } else if (mode == 2) {
        startSoftwareAcquisition();
    } else {
        writeString("Wrong trigger mode!");
        DeinitV2(wrapper);
        setDetector(nullptr);
        return false;
    }
    writeString("Finihsed trigger mode");
    return true;
}

bool DeviceStatus::openFromFolder(const std::shared_ptr<CDetector>& detector, const fs::path& workRoot,
                                  const std::string& folderName, std::shared_ptr<DeviceWrapper>& wrapper,
                                  int& result) {
    result = openDevice(detector, workRoot, folderName, wrapper);
    if (result != kDeviceOk) {
        return false;
    }
    wrapper->setWorkFolder(workRoot / folderName);
    return true;
}

int DeviceStatus::createDetector(const fs::path& workRoot, std::shared_ptr<DeviceWrapper>& wrapper,
                                 std::optional<std::string> expectedSerial, bool strict,
                                 std::optional<std::string> usbId) {
    DeviceTurn device(*this);
    writeString("createDetector 1");
    std::shared_ptr<CDetector> detector = wrapper ? wrapper->detector() : nullptr;
    if (!detector) {
        detector = std::make_shared<CDetector>();
        if (wrapper) {
            wrapper->setDetector(detector);
        } else {
            wrapper = std::make_shared<DeviceWrapper>(detector);
        }
    }
    setDetector(detector);

    const bool idle = idle_.load();
    writeString(std::string("createDetector 2 ") + boolText(idle));
    // The SDK's callback reaches the detector only through staticInstance: a wrapper it cannot
    // reach would see every awaited command time out.
    if (idle || !staticInstance()) {
        writeString("Init static instance");
        setStaticInstance(wrapper);
    }

    expectedSerial = acceptedSerial(expectedSerial);

    // Which sensor: the first plugged one whose USB identifier names a known serial number, the
    // expected one when it is among them.
    if (!usbId) {
        const auto plugged = enumerateSensors();
        if (plugged.empty()) {
            return kDeviceNoSensor;
        }
        const ConfigFile config = readConfigFile();
        std::optional<std::string> found;
        bool matched = false;
        for (const auto& id : plugged) {
            const auto serial = mappedSerial(config, id);
            if (!serial) {
                continue;
            }
            if (!found) {
                found = serial;
            }
            if (expectedSerial && *expectedSerial == *serial) {
                matched = true;
                break;
            }
        }
        if (!matched) {
            if (strict) {
                return kDeviceNoSensor;
            }
            if (found) {
                expectedSerial = found;
            } else if (plugged.size() == 1) {
                usbId = plugged.front();
            }
        }
    }

    writeString("createDetector 3");
    platform::addDriverFolderToSearchPath();
    writeString(std::string("createDetector 4 ") + boolText(!detector));
    std::string loadError;
    const int loadResult = detector->loadLibrary(&loadError);
    writeString("createDetector 4.1");
    if (loadResult != kDeviceOk) {
        writeString("Err: " + loadError);
        writeString("\t\t\t[No oo ]\n");
        status_ = kStatusNotCreated;
        return loadResult;
    }
    writeString("\t\t\t[Yes]\n");
    writeString("createDetector 5");

    int result = kDeviceOk;
    bool opened = false;
    if (expectedSerial) {
        opened = openFromFolder(detector, workRoot, *expectedSerial, wrapper, result);
        if (!opened) {
            forgetExpectedSerial(*expectedSerial);
            if (strict) {
                return result;
            }
        }
    }

    writeString("createDetector 6");
    // A source closing stops the connection thread: it makes no further attempt, each of which may
    // wait for the SDK's time-outs.
    if (!opened && stopRequested()) {
        return result != kDeviceOk ? result : kDeviceNoSensor;
    }
    if (!opened && usbId) {
        if (const auto serial = mappedSerial(readConfigFile(), *usbId)) {
            opened = openFromFolder(detector, workRoot, *serial, wrapper, result);
            if (!opened) {
                forgetExpectedSerial(*serial);
                if (strict) {
                    return result;
                }
            }
        }
    }

    // An SDK may open a sensor on another sensor's folder: it would then be corrected with that
    // sensor's files. A sensor that names itself otherwise is closed and opened on its own folder.
    if (opened) {
        const fs::path folder = wrapper->workFolder();
        const auto own = acceptedSerial(detector->getAttrText(fpd::kAttrSerialNumber));
        if (own && *own != folder.filename().string()) {
            writeString("Serial number mismatch: folder " + folder.filename().string() + ", sensor " + *own);
            detector->destroy();
            forgetExpectedSerial(folder.filename().string());
            opened = false;
            result = kDeviceNoSensor;
            std::error_code ec;
            if (fs::is_directory(workRoot / *own, ec)) {
                opened = openFromFolder(detector, workRoot, *own, wrapper, result);
            }
            if (!opened && strict) {
                return result;
            }
        }
    }

    writeString("createDetector 6.5");
    bool fromProductCopy = false;
    if (!opened) {
        installProductFolders(workRoot);
        for (const char* product : kProductFolderNames) {
            if (stopRequested()) {
                return result != kDeviceOk ? result : kDeviceNoSensor;
            }
            const std::string copyName = std::string(product) + std::string(kTemporaryCopySuffix);
            copyFolder(workRoot / product, workRoot / copyName);
            writeString("createDetector 7");
            if (openFromFolder(detector, workRoot, copyName, wrapper, result)) {
                if (const auto shared = staticInstance()) {
                    shared->setTempFolder(workRoot / copyName);
                }
                fromProductCopy = true;
                break;
            }
        }
    }

    writeString("createDetector 8");
    if (result != kDeviceOk) {
        return result;
    }

    const auto serial = acceptedSerial(detector->getAttrText(fpd::kAttrSerialNumber));
    writeString("createDetector 8.0.1");
    {
        std::lock_guard lock(mutex_);
        usbId_ = usbId;
    }

    // A known sensor opened from a product copy is opened again from its own folder.
    if (fromProductCopy) {
        writeString("createDetector 8.1");
        const ConfigFile config = readConfigFile();
        if (serial && config.previous_serial_numbers.contains(*serial)) {
            writeString("createDetector 8.2");
            std::error_code ec;
            if (fs::is_directory(workRoot / *serial, ec)) {
                writeString("createDetector 8.3");
                updateConfigFile([&serial](ConfigFile& c) { c.last_serial_number = *serial; });
                {
                    std::lock_guard lock(mutex_);
                    expectedSerial_ = serial;
                }
                status_ = kStatusReopen;
                return kDeviceReopen;
            }
        }
    }

    writeString("createDetector 8.4");
    writeString("createDetector 8.4.1");
    // The lamp tells what is true: a sensor that cannot start for want of its corrections is not
    // connected, so the dialog learns the outcome only once the correction has been tried.
    writeString("createDetector 9");
    result = setCorrection(detector);
    writeString("createDetector 10");
    noteConnectionStatus(result == kDeviceOk);
    if (result == kDeviceOk && dialogShown()) {
        writeString("createDetector 8.5");
    }
    return result;
}

int DeviceStatus::openDevice(const std::shared_ptr<CDetector>& detector, const fs::path& workRoot,
                             std::string_view folderName, const std::shared_ptr<DeviceWrapper>& /*wrapper*/) {
    DeviceTurn device(*this);
    if (!acceptedSerial(std::string(folderName))) {
        status_ = kStatusNotCreated;
        return kDeviceNoSensor;
    }
    const fs::path path = workRoot / fs::path(std::string(folderName));
    writeLog([&path](std::ofstream& out) { out << "Create instance: " << path << std::endl; });
    if (!detector) {
        logSdkFailure(detector, kDeviceNotLoaded);
        status_ = kStatusNotCreated;
        return kDeviceNotLoaded;
    }
    // The SDK takes the folder in the system's narrow encoding (on Windows the active code page).
    const auto sdkPath = platform::pathForSdk(path);
    if (!sdkPath) {
        writeLog([&path](std::ofstream& out) {
            out << "Create instance: the work folder " << path
                << " cannot be written in the system's code page for the detector library" << std::endl;
        });
        status_ = kStatusNotCreated;
        return kDeviceNoSensor;
    }
    int result = detector->create(*sdkPath, SDKCallbackHandlerV2);
    if (result != kDeviceOk) {
        logSdkFailure(detector, result);
        status_ = kStatusNotCreated;
        return result;
    }
    writeString("\t\t\t[Yes]\n");
    writeString("Connect device");
    result = detector->invokeAndWait(fpd::kCmdConnect, kConnectTimeoutMs);
    if (result != kDeviceOk) {
        logSdkFailure(detector, result);
        status_ = kStatusNotConnected;
    } else {
        writeString("\t\t\t[Yes]\n");
    }
    return result;
}

int DeviceStatus::setCorrection(const std::shared_ptr<CDetector>& detector) {
    DeviceTurn device(*this);
    writeString("Set correction");
    const int result =
        detector ? detector->invokeAndWaitInt(fpd::kCmdCorrection, fpd::kCorrectionMode, kCorrectionTimeoutMs)
                 : kDeviceNotLoaded;
    if (result != kDeviceOk) {
        logSdkFailure(detector, result);
        status_ = kStatusCorrectionFailed;
    } else {
        writeString("\t\t\t[Yes]\n");
        status_ = kStatusReady;
    }
    return result;
}

void DeviceStatus::onConnect() {
    DeviceTurn device(*this);
    status_ = kStatusReady;
    noteConnectionStatus(true);
    if (dialogShown()) {
        writeString("onConnect success");
        create_serial_folder();
    } else {
        writeString("onConnect failed");
    }
}

bool DeviceStatus::create_serial_folder() {
    DeviceTurn device(*this);
    writeString("Querying serial no!");
    const auto wrapper = staticInstance();
    auto opened = detector();
    if (!opened && wrapper) {
        opened = wrapper->detector();
    }
    const std::string serialText = opened ? opened->getAttrText(fpd::kAttrSerialNumber) : std::string();
    const fs::path workFolder = wrapper ? wrapper->workFolder() : fs::path();
    writeString("check exist dir!");
    const auto serial = acceptedSerial(serialText);
    if (!serial || workFolder.empty() || !workFolder.has_parent_path()) {
        return false;
    }
    const fs::path folder = workFolder.parent_path() / *serial;
    const auto usbId = this->usbId();

    std::error_code ec;
    if (serialNumber() == serial && fs::is_directory(folder, ec)) {
        updateConfigFile([&](ConfigFile& config) { recordSerial(config, *serial, usbId); });
        return true;
    }

    writeString("mkdir!");
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        return false;
    }
    writeString("create_serial_folder 3");
    updateConfigFile([&](ConfigFile& config) {
        writeString("create_serial_folder 4");
        recordSerial(config, *serial, usbId);
        writeString("create_serial_folder 5");
    });
    writeString("create_serial_folder 6");
    // A serial folder that existed already holds the sensor's own corrections: only what it lacks
    // comes from the folder the sensor was opened on.
    if (!fs::equivalent(workFolder, folder, ec)) {
        copyMissing(workFolder, folder);
    }
    std::lock_guard lock(mutex_);
    expectedSerial_ = serial;
    return true;
}

bool DeviceStatus::acknowledgeStatus() {
    failureSeen_ = true;
    noteConnectionStatus(false);
    // Posted at once, unless this thread is inside a turn (the lock is recursive: try_lock then
    // succeeds): that turn posts it as it ends.
    bool ownTurn = false;
    if (deviceMutex_.try_lock()) {
        ownTurn = turnDepth_ > 0;
        deviceMutex_.unlock();
    }
    if (!ownTurn) {
        postNotedStatus();
    }
    return dialogShown();
}

bool DeviceStatus::reinitDevice() {
    DeviceTurn device(*this);
    auto wrapper = staticInstance();
    std::optional<std::string> folderName;
    if (wrapper) {
        if (std::string name = wrapper->workFolder().filename().string(); !name.empty()) {
            folderName = std::move(name);
        }
    }
    const bool started = initDevice(wrapper, std::move(folderName), false, std::nullopt);
    if (started) {
        onConnect();
    }
    return started;
}

fs::path DeviceStatus::currentWorkFolder() {
    const auto wrapper = staticInstance();
    return wrapper ? wrapper->workFolder() : fs::path();
}

std::optional<std::string> DeviceStatus::serialNumber() {
    std::lock_guard lock(mutex_);
    return expectedSerial_;
}

bool DeviceStatus::correctionFailed() {
    return !failureSeen_.load() && status_.load() == kStatusCorrectionFailed;
}

void DeviceStatus::pauseConnection() {
    paused_ = true;
}

void DeviceStatus::resumeConnection() {
    paused_ = false;
}
