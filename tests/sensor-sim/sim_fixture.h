// A test's own detector work root and sensor bus, the simulated SDK loaded from the build's driver
// folder, and a record of the events it delivers.
#pragma once

#include "device/detector.h"
#include "sensor-sim/bus.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <vector>

namespace simtest {

namespace fs = std::filesystem;

struct Event {
    std::int32_t detectorId;
    std::int32_t event;
    std::int32_t param1;
    std::int32_t param2;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t depth = 0;
    std::vector<std::uint16_t> pixels;
};

// Every event of every detector, in order; forwarded to the detector that registered for its id.
class EventLog {
public:
    static EventLog& instance() {
        static EventLog log;
        return log;
    }

    // Runs the hook (on the SDK's thread, no lock held), then keeps the event.
    void record(Event e) {
        std::function<void(const Event&)> hook;
        {
            std::lock_guard lock(mutex_);
            hook = hook_;
        }
        if (hook) {
            hook(e);
        }
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(e));
        }
        changed_.notify_all();
    }

    // Waits (bounded, so a fault fails the test instead of hanging it) until pred(events) holds.
    bool waitFor(const std::function<bool(const std::vector<Event>&)>& pred,
                 std::chrono::seconds bound = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return pred(events_); });
    }

    std::vector<Event> events() {
        std::lock_guard lock(mutex_);
        return events_;
    }

    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    void setHook(std::function<void(const Event&)> hook) {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }

    std::size_t count(std::int32_t event) {
        std::lock_guard lock(mutex_);
        std::size_t n = 0;
        for (const auto& e : events_) {
            n += e.event == event ? 1 : 0;
        }
        return n;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Event> events_;
    std::function<void(const Event&)> hook_;
};

// The detectors that want processEvent, by SDK id.
inline std::mutex detectorsMutex;
inline std::vector<std::pair<std::int32_t, CDetector*>> detectors;

// Keeps the event first, so that a waiter woken by processEvent finds it in the log.
inline void FPD_CALL recordEvent(std::int32_t id, std::int32_t event, std::int32_t level, const char* message,
                                 std::int32_t param1, std::int32_t param2, std::int32_t length, void* data) {
    Event e;
    e.detectorId = id;
    e.event = event;
    e.param1 = param1;
    e.param2 = param2;
    if (event == fpd::kEvtImageReady && data != nullptr) {
        const auto* frame = static_cast<const fpd::ImageDescriptor*>(data);
        e.width = frame->width;
        e.height = frame->height;
        e.depth = frame->depth;
        e.pixels.assign(frame->pixels,
                        frame->pixels + static_cast<std::size_t>(frame->width) * frame->height);
    }
    EventLog::instance().record(std::move(e));
    std::lock_guard lock(detectorsMutex);
    for (auto& [detectorId, detector] : detectors) {
        if (detectorId == id) {
            detector->processEvent(id, event, level, message, param1, param2, length, data);
        }
    }
}

class Simulated : public testing::Test {
protected:
    void SetUp() override {
        platform::setDriverFolder(fs::path(OSTRA_TWAIN_FOLDER));
        ASSERT_TRUE(platform::addDriverFolderToSearchPath());
        fs::create_directories(workRoot());
        for (const auto& sensor : bus().sensors()) {
            bus().unplug(sensor.usbId);
        }
        EventLog::instance().clear();
    }
    void TearDown() override {
        std::lock_guard lock(detectorsMutex);
        detectors.clear();
    }

    static fs::path workRoot() { return testenv::appDataFolder() / "vanto_sensor" / "work_dir"; }

    // A copy of a shipped product folder under the work root, named `name`.
    static fs::path productCopy(const std::string& product, const std::string& name) {
        const fs::path target = workRoot() / name;
        fs::copy(fs::path(OSTRA_TWAIN_FOLDER) / product, target,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        return target;
    }

    static void addCorrectionFiles(const fs::path& folder) {
        fs::create_directories(folder / "Correct" / "Default");
        std::ofstream(folder / "Correct" / "Default" / "offset.dft") << "offset";
        std::ofstream(folder / "Correct" / "Default" / "gain.gn") << "gain";
    }

    static void plug(const std::string& serial, const std::string& product = "DS1",
                     std::optional<int> triggerMode = std::nullopt) {
        ASSERT_EQ(bus().plug({sensorbus::defaultUsbId(serial), serial, product, triggerMode}),
                  sensorbus::BusStatus::ok);
    }

    // A detector created on `folder`, its events forwarded to it.
    std::unique_ptr<CDetector> open(const fs::path& folder, int expectedCreate = 0) {
        auto detector = std::make_unique<CDetector>();
        EXPECT_EQ(detector->create(folder.generic_string(), recordEvent), expectedCreate) << folder;
        std::lock_guard lock(detectorsMutex);
        detectors.emplace_back(detector->detectorId(), detector.get());
        return detector;
    }

    static sensorbus::Bus bus() { return sensorbus::Bus(testenv::busFolder()); }
};

} // namespace simtest
