#include "sensor-sim/simulator.h"
#include "platform/module.h"
#include "platform/sdk_text.h"

#include "sensor-sim/bus.h"
#include "sensor-sim/corrections.h"
#include "sensor-sim/faults.h"
#include "sensor-sim/sim_errors.h"
#include "sensor-sim/synthetic_image.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sensorsim {

namespace fs = std::filesystem;

namespace {

// Time a command takes on the detector before its end is reported.
std::chrono::milliseconds commandDuration(std::int32_t command) {
    switch (command) {
    case fpd::kCmdConnect:
        return std::chrono::milliseconds(40);
    case fpd::kCmdCorrection:
        return std::chrono::milliseconds(30);
    case fpd::kCmdWriteParams:
        return std::chrono::milliseconds(10);
    default:
        return std::chrono::milliseconds(5);
    }
}

// The step name of a command in the bus's faults.
const char* stepName(std::int32_t command) {
    switch (command) {
    case fpd::kCmdConnect:
        return "connect";
    case fpd::kCmdCorrection:
        return "correction";
    case fpd::kCmdWriteParams:
        return "write-params";
    default:
        return "start";
    }
}

bool knownCommand(std::int32_t command) {
    return command == fpd::kCmdConnect || command == fpd::kCmdCorrection || command == fpd::kCmdWriteParams ||
           command == fpd::kCmdStartAcquisition;
}

void setInt(fpd::AttributeValue& value, std::int32_t number) {
    value.type = fpd::kTypeInt;
    value.intValue = number;
}

std::string lastComponent(const fs::path& folder) {
    auto name = folder.filename();
    if (name.empty()) {
        name = folder.parent_path().filename();
    }
    return name.string();
}

} // namespace

SimulatedDetector::SimulatedDetector(Simulator& owner, std::int32_t id, fs::path workFolder,
                                     sensorbus::Product product, fpd::Callback callback)
    : owner_(owner), id_(id), workFolder_(std::move(workFolder)), product_(product), callback_(callback) {}

SimulatedDetector::~SimulatedDetector() {
    stop();
}

void SimulatedDetector::start(const std::shared_ptr<SimulatedDetector>& detector) {
    // A callback that destroys its own detector lets the event thread end on its own, after the
    // driver may have freed this library: the library stays loaded from the first thread on.
    static const bool pinned = platform::pinModuleOf(reinterpret_cast<const void*>(&Simulator::instance));
    static_cast<void>(pinned);
    std::lock_guard lock(detector->mutex_);
    detector->thread_ = std::thread([self = detector] { self->run(); });
}

void SimulatedDetector::stop() {
    std::thread finishing;
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        finishing = std::move(thread_);
    }
    wake_.notify_all();
    if (finishing.joinable()) {
        if (finishing.get_id() == std::this_thread::get_id()) {
            finishing.detach();
        } else {
            finishing.join();
        }
    }
}

std::int32_t SimulatedDetector::getAttr(std::int32_t attribute, fpd::AttributeValue& value) {
    std::memset(&value, 0, sizeof value);
    std::lock_guard lock(mutex_);
    switch (attribute) {
    case fpd::kAttrImageWidth:
        setInt(value, product_.width);
        return fpd::kSuccess;
    case fpd::kAttrImageHeight:
        setInt(value, product_.height);
        return fpd::kSuccess;
    case fpd::kAttrTriggerMode:
        setInt(value, fixedTriggerMode_.value_or(triggerMode_));
        return fpd::kSuccess;
    case fpd::kAttrSerialNumber:
        if (!usbId_) {
            return kErrNotConnected;
        }
        value.type = fpd::kTypeText;
        std::strncpy(value.text, serial_.c_str(), sizeof value.text - 1);
        return fpd::kSuccess;
    case fpd::kAttrTriggerModeSetting:
        setInt(value, triggerSetting_);
        return fpd::kSuccess;
    case fpd::kAttrTriggerThreshold:
        setInt(value, triggerThreshold_);
        return fpd::kSuccess;
    case fpd::kAttrConnectionState:
        setInt(value, connectionState_);
        return fpd::kSuccess;
    default:
        return kErrUnknownAttribute;
    }
}

std::int32_t SimulatedDetector::setAttr(std::int32_t attribute, const fpd::AttributeValue& value) {
    std::lock_guard lock(mutex_);
    switch (attribute) {
    case fpd::kAttrTriggerModeSetting:
        if (value.type != fpd::kTypeInt || value.intValue < 0 || value.intValue > 7) {
            return kErrInvalidParameter;
        }
        triggerSetting_ = value.intValue;
        return fpd::kSuccess;
    case fpd::kAttrTriggerThreshold:
        if (value.type != fpd::kTypeInt || value.intValue < 0 || value.intValue > 255) {
            return kErrInvalidParameter;
        }
        triggerThreshold_ = value.intValue;
        return fpd::kSuccess;
    case fpd::kAttrImageWidth:
    case fpd::kAttrImageHeight:
    case fpd::kAttrTriggerMode:
    case fpd::kAttrSerialNumber:
    case fpd::kAttrConnectionState:
        return kErrReadOnlyAttribute;
    default:
        return kErrUnknownAttribute;
    }
}

std::int32_t SimulatedDetector::invoke(std::int32_t command, const fpd::CommandParam* params,
                                       std::int32_t count) {
    if (!knownCommand(command)) {
        return kErrUnknownCommand;
    }
    if (count < 0 || (count > 0 && params == nullptr)) {
        return kErrInvalidParameter;
    }
    if (command == fpd::kCmdCorrection) {
        // The only correction this detector offers: offset, gain and defect (0x160000).
        if (count != 1 || params[0].kind != fpd::kParamValue || params[0].value.type != fpd::kTypeInt ||
            params[0].value.intValue != fpd::kCorrectionMode) {
            return kErrInvalidParameter;
        }
    } else if (count != 0) {
        return kErrInvalidParameter;
    }
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return kErrInvalidDetector;
        }
        commands_.push_back({command, false});
    }
    wake_.notify_all();
    return fpd::kPending;
}

std::int32_t SimulatedDetector::abort() {
    {
        std::lock_guard lock(mutex_);
        for (auto& pending : commands_) {
            pending.aborted = true;
        }
    }
    wake_.notify_all();
    return fpd::kSuccess;
}

void SimulatedDetector::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!commands_.empty()) {
            const std::int32_t command = commands_.front().command;
            lock.unlock();
            const auto late = sensorbus::Faults::fromEnvironment().lateMs(stepName(command)).value_or(0);
            lock.lock();
            if (!commands_.front().aborted) {
                const auto until = std::chrono::steady_clock::now() + commandDuration(command) +
                                   std::chrono::milliseconds(late);
                wake_.wait_until(lock, until, [&] { return stopping_ || commands_.front().aborted; });
                if (stopping_) {
                    break;
                }
            }
            const bool aborted = commands_.front().aborted;
            commands_.pop_front();
            lock.unlock();
            const Outcome outcome = aborted ? Outcome{fpd::kEvtCommandFailed, kErrAborted} : execute(command);
            if (outcome.event == fpd::kEvtCommandFinished) {
                fire(outcome.event, command, 0, "Task succeed");
            } else {
                fire(outcome.event, command, outcome.code, errorText(outcome.code).c_str());
            }
            lock.lock();
            continue;
        }
        if (usbId_) {
            lock.unlock();
            pollBus();
            lock.lock();
            wake_.wait_for(lock, kBusPollInterval, [&] { return stopping_ || !commands_.empty(); });
        } else {
            wake_.wait(lock, [&] { return stopping_ || !commands_.empty(); });
        }
    }
    lock.unlock();
    owner_.release(id_);
}

SimulatedDetector::Outcome SimulatedDetector::execute(std::int32_t command) {
    if (const auto code = sensorbus::Faults::fromEnvironment().failCode(stepName(command))) {
        return {fpd::kEvtCommandFailed, *code};
    }
    if (command == fpd::kCmdConnect) {
        return connect();
    }
    std::lock_guard lock(mutex_);
    if (!usbId_) {
        return {fpd::kEvtCommandFailed, kErrNotConnected};
    }
    switch (command) {
    case fpd::kCmdCorrection:
        if (!hasCorrectionFiles()) {
            return {fpd::kEvtCommandFailed, kErrNoCorrectionFiles};
        }
        connectionState_ = 2;
        return {fpd::kEvtCommandFinished, 0};
    case fpd::kCmdWriteParams:
        triggerMode_ = triggerSetting_;
        return {fpd::kEvtCommandFinished, 0};
    default: // start acquisition: exposures are taken whenever the bus asks for one
        return {fpd::kEvtCommandFinished, 0};
    }
}

// A work folder named after the product (or its "_temp" copy) takes any plugged sensor of that
// product; any other folder is a sensor's own and takes only the sensor of that serial number.
SimulatedDetector::Outcome SimulatedDetector::connect() {
    {
        std::lock_guard lock(mutex_);
        if (usbId_) {
            return {fpd::kEvtCommandFinished, 0};
        }
    }
    const auto bus = sensorbus::Bus::fromEnvironment();
    if (!bus) {
        return {fpd::kEvtCommandFailed, kErrNoSensor};
    }
    const std::string folder = lastComponent(workFolder_);
    const std::string productName(product_.name);
    const bool productFolder = folder == productName || folder == productName + "_temp";
    bool sawInUse = false;
    for (const auto& sensor : bus->sensors()) {
        if (sensor.product != productName || (!productFolder && sensor.serial != folder)) {
            continue;
        }
        if (!owner_.claim(sensor.usbId, id_)) {
            sawInUse = true;
            continue;
        }
        std::lock_guard lock(mutex_);
        usbId_ = sensor.usbId;
        serial_ = sensor.serial;
        fixedTriggerMode_ = sensor.triggerMode;
        plainFrames_ = sensor.plainFrames;
        connectionState_ = 1;
        delivered_ = bus->exposureCount(sensor.usbId);
        return {fpd::kEvtCommandFinished, 0};
    }
    return {fpd::kEvtCommandFailed, sawInUse ? kErrSensorInUse : kErrNoSensor};
}

// Like a real detector, it takes only its own correction files (or a generic pair naming no sensor).
bool SimulatedDetector::hasCorrectionFiles() const {
    return sensorbus::holdsCorrectionFilesFor(workFolder_ / "Correct" / "Default", serial_);
}

void SimulatedDetector::pollBus() {
    std::string usbId, serial;
    std::uint64_t delivered = 0;
    {
        std::lock_guard lock(mutex_);
        if (!usbId_) {
            return;
        }
        usbId = *usbId_;
        serial = serial_;
        delivered = delivered_;
    }
    const auto bus = sensorbus::Bus::fromEnvironment();
    if (!bus || !bus->sensor(usbId)) {
        disconnect();
        return;
    }
    const std::uint64_t requested = bus->exposureCount(usbId);
    if (requested < delivered) { // unplugged and plugged again between two looks
        std::lock_guard lock(mutex_);
        delivered_ = requested;
        return;
    }
    for (std::uint64_t number = delivered + 1; number <= requested; ++number) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || usbId_ != usbId) {
                return;
            }
            delivered_ = number;
        }
        deliverExposure(number, serial);
    }
}

void SimulatedDetector::deliverExposure(std::uint64_t number, const std::string& serial) {
    const auto faults = sensorbus::Faults::fromEnvironment();
    fire(fpd::kEvtTaskStarted, fpd::kCmdAcquisitionTask, 0, "Exposure started");
    if (faults.has("unplug-in-exposure")) {
        // Pulled out while the exposure runs: no frame comes.
        if (const auto bus = sensorbus::Bus::fromEnvironment()) {
            sensorbus::clearFaults(*bus, "unplug-in-exposure");
            std::string usbId;
            {
                std::lock_guard lock(mutex_);
                usbId = usbId_.value_or("");
            }
            bus->unplug(usbId);
        }
        disconnect();
        return;
    }
    bool plain = false;
    {
        std::lock_guard lock(mutex_);
        plain = plainFrames_;
    }
    const auto [width, height] = faults.frameSize().value_or(std::pair{product_.width, product_.height});
    std::vector<std::uint16_t> pixels =
        plain ? plainExposure(width, height, number) : syntheticExposure(width, height, serial, number);
    if (pixels.empty()) { // too small to draw teeth: a flat frame of its size
        pixels.assign(std::max<std::size_t>(1, static_cast<std::size_t>(width) * height), 30000);
    }
    fpd::ImageDescriptor descriptor{width, height, 2, pixels.data()};
    fire(fpd::kEvtImageReady, fpd::kCmdAcquisitionTask, 0, "Image ready",
         static_cast<std::int32_t>(sizeof descriptor), &descriptor);
}

void SimulatedDetector::disconnect() {
    {
        std::lock_guard lock(mutex_);
        usbId_.reset();
        serial_.clear();
        fixedTriggerMode_.reset();
        plainFrames_ = false;
        connectionState_ = 0;
    }
    owner_.release(id_);
}

void SimulatedDetector::fire(std::int32_t event, std::int32_t param1, std::int32_t param2,
                             const char* message, std::int32_t dataLength, void* data) {
    if (callback_ == nullptr) {
        return;
    }
    const int times = sensorbus::Faults::fromEnvironment().has("duplicate-events") ? 2 : 1;
    for (int i = 0; i < times; ++i) {
        callback_(id_, event, event == fpd::kEvtCommandFailed ? 2 : 0, message, param1, param2, dataLength,
                  data);
    }
}

Simulator& Simulator::instance() {
    static Simulator simulator;
    return simulator;
}

Simulator::~Simulator() {
    std::map<std::int32_t, std::shared_ptr<SimulatedDetector>> remaining;
    std::vector<std::thread> late;
    {
        std::lock_guard lock(mutex_);
        remaining.swap(detectors_);
        late.swap(lateEvents_);
    }
    for (auto& [id, detector] : remaining) {
        detector->stop();
    }
    for (auto& thread : late) {
        thread.join();
    }
}

std::int32_t Simulator::create(const char* workFolder, fpd::Callback callback, std::int32_t* detectorId) {
    if (workFolder == nullptr || workFolder[0] == '\0' || detectorId == nullptr) {
        return kErrInvalidParameter;
    }
    if (const auto code = sensorbus::Faults::fromEnvironment().failCode("create")) {
        return *code;
    }
    const fs::path folder = platform::pathFromSdk(workFolder);
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        return kErrNoWorkFolder;
    }
    const auto product = sensorbus::readProductFile(folder);
    if (!product) {
        return kErrNoProduct;
    }
    std::shared_ptr<SimulatedDetector> detector;
    {
        std::lock_guard lock(mutex_);
        if (detectors_.size() >= kMaxDetectors) {
            return kErrTooManyDetectors;
        }
        const std::int32_t id = nextId_++;
        detector = std::make_shared<SimulatedDetector>(*this, id, folder, *product, callback);
        detectors_.emplace(id, detector);
    }
    SimulatedDetector::start(detector);
    *detectorId = detector->id();
    return fpd::kSuccess;
}

std::int32_t Simulator::destroy(std::int32_t detectorId) {
    std::shared_ptr<SimulatedDetector> detector;
    {
        std::lock_guard lock(mutex_);
        auto found = detectors_.find(detectorId);
        if (found == detectors_.end()) {
            return kErrInvalidDetector;
        }
        detector = std::move(found->second);
        detectors_.erase(found);
    }
    detector->stop();
    release(detectorId);
    if (sensorbus::Faults::fromEnvironment().has("event-after-destroy") && detector->callback() != nullptr) {
        const fpd::Callback callback = detector->callback();
        std::lock_guard lock(mutex_);
        lateEvents_.emplace_back([callback, detectorId] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            callback(detectorId, fpd::kEvtCommandFinished, 0, "Task succeed", fpd::kCmdConnect, 0, 0,
                     nullptr);
        });
    }
    return fpd::kSuccess;
}

std::shared_ptr<SimulatedDetector> Simulator::find(std::int32_t detectorId) {
    std::lock_guard lock(mutex_);
    auto found = detectors_.find(detectorId);
    return found == detectors_.end() ? nullptr : found->second;
}

bool Simulator::claim(const std::string& usbId, std::int32_t detectorId) {
    std::lock_guard lock(mutex_);
    auto [it, inserted] = claims_.emplace(usbId, detectorId);
    return inserted || it->second == detectorId;
}

void Simulator::release(std::int32_t detectorId) {
    std::lock_guard lock(mutex_);
    std::erase_if(claims_, [detectorId](const auto& claim) { return claim.second == detectorId; });
}

} // namespace sensorsim
