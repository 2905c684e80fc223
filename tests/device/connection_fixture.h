// A test's sensor connection set-up: the simulated SDK from the build's driver folder, the test's own
// sensor bus and work root (with the shipped product folders copied in and calibrated), a wrapper
// and a DeviceStatus, and helpers to wait, with a bound, for what the connection thread does.
#pragma once

#include "device/device_status.h"
#include "device/work_folders.h"
#include "sensor-sim/bus.h"
#include "sensor-sim/products.h"
#include "support/config_file.h"
#include "tests/common/eventually.h"
#include "tests/common/test_env.h"
#include "tests/device/dialog_double.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace conntest {

namespace fs = std::filesystem;

inline fs::path workRoot() {
    return testenv::appDataFolder() / "vanto_sensor" / "work_dir";
}

// A corrections folder with one offset and one gain file, as the SDK needs them to correct.
inline void addCorrections(const fs::path& folder) {
    if (folder.empty()) {
        ADD_FAILURE() << "no work folder to put corrections into";
        return;
    }
    fs::create_directories(folder / "Correct" / "Default");
    std::ofstream(folder / "Correct" / "Default" / "a.dft") << "offset";
    std::ofstream(folder / "Correct" / "Default" / "a.gn") << "gain";
}

// A sensor's own work folder, as an earlier session left it.
inline void makeSerialFolder(const std::string& serial, const std::string& product = "DS1") {
    ASSERT_TRUE(sensorbus::writeProductFile(workRoot() / serial, product));
    addCorrections(workRoot() / serial);
}

inline int countLines(const std::vector<std::string>& lines, const std::string& text) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

inline bool hasLine(const std::string& text) {
    return countLines(appfiles::logLines(), text) > 0;
}

inline bool hasLineStarting(const std::string& prefix) {
    const auto lines = appfiles::logLines();
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& l) { return l.starts_with(prefix); });
}

using testenv::eventually;

class Connection : public testing::Test {
protected:
    void SetUp() override {
        platform::setDriverFolder(fs::path(OSTRA_TWAIN_FOLDER));
        appfiles::startLog();
        // The product folders as installed and calibrated.
        installProductFolders(workRoot());
        addCorrections(workRoot() / "DS1");
        addCorrections(workRoot() / "DS2");
    }

    void TearDown() override {
        status.reset();
        if (const auto shared = staticInstance()) {
            DeinitV2(shared);
        }
        wrapper.reset();
        setStaticInstance(nullptr);
    }

    void plug(const std::string& serial, const std::string& usbId, const std::string& product = "DS1",
              std::optional<int> triggerMode = std::nullopt) {
        ASSERT_EQ(bus.plug({usbId, serial, product, triggerMode}), sensorbus::BusStatus::ok) << serial;
    }
    void unplug(const std::string& usbId) { ASSERT_EQ(bus.unplug(usbId), sensorbus::BusStatus::ok) << usbId; }

    static void writeHistory(const std::optional<std::string>& last, const std::set<std::string>& previous,
                             const std::map<std::string, std::string>& map) {
        updateConfigFile([&](ConfigFile& config) {
            config.last_serial_number = last;
            config.previous_serial_numbers = previous;
            config.previous_serial_numbers_map.clear();
            for (const auto& [usbId, serial] : map) {
                config.previous_serial_numbers_map[usbId] = serial;
            }
        });
    }

    std::string workFolderName() const {
        const auto shared = staticInstance();
        return shared ? shared->workFolder().filename().string() : std::string();
    }

    void showDialog() { wrapper->setDialog(std::make_unique<DialogDouble>()); }

    sensorbus::Bus bus{testenv::busFolder()};
    std::shared_ptr<DeviceWrapper> wrapper = std::make_shared<DeviceWrapper>();
    std::shared_ptr<DeviceStatus> status = std::make_shared<DeviceStatus>();
};

} // namespace conntest
