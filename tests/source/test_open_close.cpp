// Opening and closing the built source through the stand-in DSM, as an imaging application does.
#include "dsm/dsm_control.h"
#include "sensor-sim/bus.h"
#include "support/config_file.h"
#include "tests/common/eventually.h"
#include "tests/common/test_env.h"
#include "tests/common/twain_app.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

fs::path workRoot() {
    return testenv::appDataFolder() / "vanto_sensor" / "work_dir";
}

std::string logText() {
    std::ifstream in(testenv::appDataFolder() / "vanto_sensor" / "ds.log");
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::size_t threadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& task : fs::directory_iterator("/proc/self/task")) {
        ++count;
    }
    return count;
}

// Waits (bounded) until the process has at most `count` threads.
bool threadsSettleAt(std::size_t count) {
    return testenv::eventually([count] { return threadCount() <= count; }, std::chrono::seconds(5));
}

void plug(const std::string& serial, const std::string& usbId, const std::string& product) {
    sensorbus::SensorEntry entry;
    entry.usbId = usbId;
    entry.serial = serial;
    entry.product = product;
    ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).plug(entry), sensorbus::BusStatus::ok);
}

// Correction files, as a folder must hold them for the detector's correction to succeed.
void addCorrections(const fs::path& folder) {
    fs::create_directories(folder / "Correct" / "Default");
    std::ofstream(folder / "Correct" / "Default" / "offset.dft") << "dark field";
    std::ofstream(folder / "Correct" / "Default" / "gain.gn") << "gain";
}

// A product folder of the work root as installed, with its correction files.
void installProduct(const std::string& product) {
    fs::create_directories(workRoot());
    fs::copy(fs::path(OSTRA_TWAIN_FOLDER) / product, workRoot() / product, fs::copy_options::recursive);
    addCorrections(workRoot() / product);
}

// A sensor seen before: its serial folder (a copy of its product's folder, with corrections) and
// the configuration's history (last serial number, known serials, USB identifier as listed).
void rememberSensor(const std::string& serial, const std::string& usbId, const std::string& product) {
    fs::create_directories(workRoot());
    fs::copy(fs::path(OSTRA_TWAIN_FOLDER) / product, workRoot() / serial, fs::copy_options::recursive);
    addCorrections(workRoot() / serial);
    updateConfigFile([&](ConfigFile& config) {
        config.last_serial_number = serial;
        config.previous_serial_numbers.insert(serial);
        std::string listed = usbId;
        for (char& c : listed) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        config.previous_serial_numbers_map[listed] = serial;
    });
}

// A capability's one-value item as the application receives it.
TW_UINT32 currentItem(TwainApp& app, TW_UINT16 id) {
    TW_CAPABILITY cap{id, TWON_DONTCARE16, nullptr};
    EXPECT_EQ(app.call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap), TWRC_SUCCESS) << id;
    TW_UINT32 item = 0;
    if (cap.hContainer != nullptr) {
        std::memcpy(&item, static_cast<const char*>(cap.hContainer) + 2, 4);
        TW_ENTRYPOINT dsm{};
        app.dsm(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &dsm);
        dsm.DSM_MemFree(cap.hContainer);
    }
    return item;
}

class OpenClose : public testing::Test {
protected:
    void SetUp() override {
        OstraDsm_resetControls();
        fs::create_directories(testenv::appDataFolder() / "vanto_sensor");
        // A first thread makes a sanitizer runtime start its own helper thread; count after that.
        std::thread([] {}).join();
        baseline = threadCount();
    }
    std::size_t baseline = 0;
};

TEST_F(OpenClose, WithoutSensorTheSourceOpensAndWaitsForOne) {
    TwainApp app;
    ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    EXPECT_EQ(currentItem(app, ICAP_PHYSICALWIDTH), 1000u);
    EXPECT_EQ(currentItem(app, ICAP_PHYSICALHEIGHT), 1500u);
    const std::string log = logText();
    EXPECT_NE(log.find("OpenDS:\n"), std::string::npos);
    EXPECT_NE(log.find("Ostra device connection deferred\n"), std::string::npos);
    EXPECT_NE(log.find("width: 1000\nheight: 1500\n"), std::string::npos);
    EXPECT_NE(log.find("opends finished:\n"), std::string::npos);

    ASSERT_EQ(app.closeSource(), TWRC_SUCCESS);
    EXPECT_NE(logText().find("identityCloseDs Start 5\n"), std::string::npos);
    EXPECT_TRUE(threadsSettleAt(baseline)) << threadCount() << " threads, " << baseline << " before";
}

TEST_F(OpenClose, KnownSensorIsConnectedAtOpenAndNegotiated) {
    plug("SN2001", "U2001", "DS2");
    rememberSensor("SN2001", "U2001", "DS2");
    {
        TwainApp app;
        ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
        EXPECT_NE(logText().find("Ostra created:\n"), std::string::npos);
        // The physical size is the connected product's image size.
        EXPECT_EQ(currentItem(app, ICAP_PHYSICALWIDTH), 1300u);
        EXPECT_EQ(currentItem(app, ICAP_PHYSICALHEIGHT), 1700u);

        // What an imaging application negotiates.
        EXPECT_EQ(app.setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY),
                  std::make_pair(TWRC_SUCCESS, TWCC_SUCCESS));
        EXPECT_EQ(app.setOne(ICAP_BITDEPTH, TWTY_UINT16, 8), std::make_pair(TWRC_SUCCESS, TWCC_SUCCESS));
        EXPECT_EQ(app.setOne(ICAP_BITDEPTH, TWTY_UINT16, 16), std::make_pair(TWRC_FAILURE, TWCC_BADVALUE));
        EXPECT_EQ(app.setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY),
                  std::make_pair(TWRC_SUCCESS, TWCC_SUCCESS));
        EXPECT_EQ(currentItem(app, ICAP_XFERMECH), TWSX_MEMORY);
        EXPECT_EQ(app.setOne(CAP_XFERCOUNT, TWTY_INT16, 1), std::make_pair(TWRC_SUCCESS, TWCC_SUCCESS));
        EXPECT_EQ(static_cast<TW_INT16>(currentItem(app, CAP_XFERCOUNT)), 1);

        ASSERT_EQ(app.closeSource(), TWRC_SUCCESS);
    }
    EXPECT_TRUE(threadsSettleAt(baseline)) << threadCount() << " threads, " << baseline << " before";
}

TEST_F(OpenClose, EveryApplicationHasASourceOfItsOwn) {
    TwainApp first("First Application");
    TwainApp second("Second Application");
    ASSERT_EQ(first.openDsm(), TWRC_SUCCESS);
    ASSERT_EQ(second.openDsm(), TWRC_SUCCESS);
    ASSERT_EQ(first.openSource(), TWRC_SUCCESS);
    ASSERT_EQ(second.openSource(), TWRC_SUCCESS);
    EXPECT_NE(first.source().Id, second.source().Id);

    // One application's setting is not the other's.
    EXPECT_EQ(first.setOne(CAP_XFERCOUNT, TWTY_INT16, 1).first, TWRC_SUCCESS);
    EXPECT_EQ(static_cast<TW_INT16>(currentItem(first, CAP_XFERCOUNT)), 1);
    EXPECT_EQ(static_cast<TW_INT16>(currentItem(second, CAP_XFERCOUNT)), -1);

    ASSERT_EQ(first.closeSource(), TWRC_SUCCESS);
    EXPECT_EQ(static_cast<TW_INT16>(currentItem(second, CAP_XFERCOUNT)), -1);
    ASSERT_EQ(second.closeSource(), TWRC_SUCCESS);
    EXPECT_TRUE(threadsSettleAt(baseline));
}

TEST_F(OpenClose, CloseDeletesCorrectionsOfATemporaryProductCopyOnly) {
    plug("SN2002", "U2002", "DS2");
    installProduct("DS2");
    TwainApp app;
    ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    // The connection thread opens a first-time sensor from the working copy of its product.
    ASSERT_TRUE(
        testenv::eventually([] { return logText().find("Finihsed trigger mode") != std::string::npos; }));
    ASSERT_TRUE(fs::is_directory(workRoot() / "DS2_temp"));
    ASSERT_TRUE(fs::exists(workRoot() / "DS2_temp" / "Correct" / "Default" / "gain.gn"));
    ASSERT_EQ(app.closeSource(), TWRC_SUCCESS);
    EXPECT_FALSE(fs::exists(workRoot() / "DS2_temp" / "Correct"));
    EXPECT_TRUE(fs::exists(workRoot() / "DS2_temp"));
    EXPECT_TRUE(fs::exists(workRoot() / "DS2" / "Correct" / "Default" / "gain.gn"));
}

TEST_F(OpenClose, CloseWithoutTemporaryCopyDeletesNothing) {
    TwainApp app;
    ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    fs::create_directories(workRoot() / "DS1_temp" / "Correct");
    ASSERT_EQ(app.closeSource(), TWRC_SUCCESS);
    EXPECT_TRUE(fs::exists(workRoot() / "DS1_temp" / "Correct"));
}

TEST_F(OpenClose, ReopeningAfterCloseWorks) {
    for (int round = 0; round < 3; ++round) {
        TwainApp app;
        ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS) << round;
        EXPECT_EQ(currentItem(app, ICAP_PHYSICALWIDTH), 1000u);
        ASSERT_EQ(app.closeSource(), TWRC_SUCCESS) << round;
    }
    EXPECT_TRUE(threadsSettleAt(baseline));
}

} // namespace
