// The simulated detector SDK behind the FpdSys entry points: detector instances bound to work
// folders, connected to sensors of the virtual bus, each with an event thread of its own that
// finishes commands and delivers the exposures requested on the bus.
#pragma once

#include "device/fpd_sys.h"
#include "sensor-sim/products.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sensorsim {

class Simulator;

// How often a connected detector looks at the bus for exposure requests and removal.
inline constexpr std::chrono::milliseconds kBusPollInterval{20};

// One detector instance. Its event thread calls the callback with no lock held, so the callback
// may call back into the SDK.
class SimulatedDetector {
public:
    SimulatedDetector(Simulator& owner, std::int32_t id, std::filesystem::path workFolder,
                      sensorbus::Product product, fpd::Callback callback);
    ~SimulatedDetector();
    SimulatedDetector(const SimulatedDetector&) = delete;
    SimulatedDetector& operator=(const SimulatedDetector&) = delete;

    // Starts the event thread; it keeps the detector alive while it runs. The first start keeps
    // the library loaded for the rest of the process.
    static void start(const std::shared_ptr<SimulatedDetector>& detector);
    // Ends the event thread: joins it, or lets it end on its own when called from it (a callback
    // that destroys its own detector).
    void stop();

    std::int32_t getAttr(std::int32_t attribute, fpd::AttributeValue& value);
    std::int32_t setAttr(std::int32_t attribute, const fpd::AttributeValue& value);
    std::int32_t invoke(std::int32_t command, const fpd::CommandParam* params, std::int32_t count);
    std::int32_t abort();

    std::int32_t id() const { return id_; }
    fpd::Callback callback() const { return callback_; }

private:
    struct Pending {
        std::int32_t command;
        bool aborted;
    };
    struct Outcome {
        std::int32_t event;
        std::int32_t code;
    };

    void run();
    Outcome execute(std::int32_t command);
    Outcome connect();
    bool hasCorrectionFiles() const;
    void pollBus();
    void deliverExposure(std::uint64_t number, const std::string& serial);
    void disconnect();
    void fire(std::int32_t event, std::int32_t param1, std::int32_t param2, const char* message,
              std::int32_t dataLength = 0, void* data = nullptr);

    Simulator& owner_;
    const std::int32_t id_;
    const std::filesystem::path workFolder_;
    const sensorbus::Product product_;
    const fpd::Callback callback_;

    // mutex_ guards every field below; the event thread releases it around bus reads and callbacks.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Pending> commands_;
    bool stopping_ = false;
    std::optional<std::string> usbId_; // connected sensor
    std::string serial_;
    std::optional<int> fixedTriggerMode_;
    bool plainFrames_ = false;
    std::int32_t connectionState_ = 0; // 0 none, 1 connected, 2 corrected
    std::int32_t triggerSetting_ = 6;
    std::int32_t triggerThreshold_ = 3;
    std::int32_t triggerMode_ = 6;
    std::uint64_t delivered_ = 0; // exposure requests seen on the bus for the connected sensor
    std::thread thread_;
};

// The process's detector instances and the sensors they hold.
class Simulator {
public:
    static Simulator& instance();
    Simulator() = default;
    ~Simulator();

    std::int32_t create(const char* workFolder, fpd::Callback callback, std::int32_t* detectorId);
    std::int32_t destroy(std::int32_t detectorId);
    std::shared_ptr<SimulatedDetector> find(std::int32_t detectorId);

    // One detector per sensor: claim fails while another instance holds the USB identifier.
    bool claim(const std::string& usbId, std::int32_t detectorId);
    void release(std::int32_t detectorId);

    static constexpr std::size_t kMaxDetectors = 16;

private:
    std::mutex mutex_; // guards detectors_, claims_, nextId_ and lateEvents_
    std::map<std::int32_t, std::shared_ptr<SimulatedDetector>> detectors_;
    // Threads of the event-after-destroy fault; joined when the simulator ends.
    std::vector<std::thread> lateEvents_;
    std::map<std::string, std::int32_t> claims_;
    std::int32_t nextId_ = 1;
};

} // namespace sensorsim
