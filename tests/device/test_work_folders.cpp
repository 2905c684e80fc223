// Work folders: which serial numbers may name one, copying the product folders in, and the serial
// folder of an opened sensor (over the scriptable SDK, whose serial number the test chooses).
#include "device/device_status.h"
#include "device/work_folders.h"
#include "tests/common/test_env.h"
#include "tests/device/fake_sdk.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;

fs::path workRoot() {
    return testenv::appDataFolder() / "vanto_sensor" / "work_dir";
}

TEST(SerialFolderName, Table) {
    const std::pair<std::string, bool> cases[] = {
        {"SN1001", true},
        {"DS1_temp", true},
        {"a.b-c_d", true},
        {"...x", true},
        {std::string(255, 'x'), true},
        {"", false},
        {".", false},
        {"..", false},
        {"../x", false},
        {"a/b", false},
        {"/abs", false},
        {"a\\b", false},
        {"C:", false},
        {"C:x", false},
        {"x?", false},
        {"x*", false},
        {"a<b", false},
        {"a|b", false},
        {"a\"b", false},
        {"DS1.", false},
        {"SN1 ", false},
        {"tab\tname", false},
        {std::string("nul\0x", 5), false},
        {std::string(256, 'x'), false},
    };
    for (const auto& [name, safe] : cases) {
        EXPECT_EQ(isSafeFolderName(name), safe) << name;
    }
}

TEST(SerialFolderName, RefusalIsLoggedOnOneLine) {
    appfiles::startLog();
    EXPECT_EQ(acceptedSerial(std::nullopt), std::nullopt);
    EXPECT_EQ(acceptedSerial(std::string()), std::nullopt);
    EXPECT_EQ(acceptedSerial(std::string("SN1")), "SN1");
    EXPECT_TRUE(appfiles::logLines().empty());
    EXPECT_EQ(acceptedSerial(std::string("../x\ny")), std::nullopt);
    EXPECT_EQ(appfiles::logLines(), std::vector<std::string>{"Refused serial number: \"../x?y\""});
}

TEST(ProductFolders, InstalledBesideWhatTheWorkRootAdded) {
    const fs::path driver = testenv::tempRoot() / "driver";
    fs::create_directories(driver / "DS1" / "sub");
    std::ofstream(driver / "DS1" / "product.txt") << "DS1\n";
    std::ofstream(driver / "DS1" / "sub" / "deep.txt") << "deep";
    platform::setDriverFolder(driver);

    installProductFolders(workRoot());
    EXPECT_TRUE(fs::exists(workRoot() / "DS1" / "sub" / "deep.txt"));
    EXPECT_FALSE(fs::exists(workRoot() / "DS2")) << "none shipped";

    // Calibration added in the work root stays; a file changed there since is kept.
    std::ofstream(workRoot() / "DS1" / "calibration.dft") << "mine";
    std::ofstream(workRoot() / "DS1" / "product.txt") << "DS2\n";
    installProductFolders(workRoot());
    EXPECT_TRUE(fs::exists(workRoot() / "DS1" / "calibration.dft"));
    EXPECT_EQ(appfiles::read(workRoot() / "DS1" / "product.txt"), "DS2\n");
}

class SerialFolder : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sdk.loaded());
        appfiles::startLog();
        fs::create_directories(workRoot() / "DS1_temp" / "Correct" / "Default");
        std::ofstream(workRoot() / "DS1_temp" / "Correct" / "Default" / "a.dft") << "offset";
        sdk.setCreateResult(0, 3);
        ASSERT_EQ(detector->create((workRoot() / "DS1_temp").string(), SDKCallbackHandlerV2), 0);
        wrapper->setDetector(detector);
        wrapper->setWorkFolder(workRoot() / "DS1_temp");
        setStaticInstance(wrapper);
    }
    void TearDown() override {
        setStaticInstance(nullptr);
        sdk.join();
    }
    void sensorSerial(const char* serial) const {
        sdk.setAttribute(fpd::kAttrSerialNumber, 0, 2, 0, 0, serial);
    }

    fakesdk::FakeSdk sdk{FAKE_SDK_FOLDER};
    std::shared_ptr<CDetector> detector = std::make_shared<CDetector>();
    std::shared_ptr<DeviceWrapper> wrapper = std::make_shared<DeviceWrapper>();
    DeviceStatus status;
};

TEST_F(SerialFolder, SensorSerialThatLeadsOutsideIsRefused) {
    for (const char* serial : {"../escaped", "../../escaped", "/tmp/ostra-escaped", "..", ""}) {
        sensorSerial(serial);
        EXPECT_FALSE(status.create_serial_folder()) << serial;
    }
    EXPECT_FALSE(fs::exists(workRoot().parent_path() / "escaped"));
    EXPECT_FALSE(fs::exists(testenv::appDataFolder() / "escaped"));
    EXPECT_FALSE(fs::exists("/tmp/ostra-escaped"));
    EXPECT_EQ(readConfigFile().previous_serial_numbers, std::set<std::string>{});
}

TEST_F(SerialFolder, CreatedFilledAndRecorded) {
    sensorSerial("SN5");
    EXPECT_TRUE(status.create_serial_folder());
    EXPECT_TRUE(fs::exists(workRoot() / "SN5" / "Correct" / "Default" / "a.dft"));
    EXPECT_EQ(status.serialNumber(), "SN5");
    const ConfigFile config = readConfigFile();
    EXPECT_EQ(config.last_serial_number, "SN5");
    EXPECT_EQ(config.previous_serial_numbers, std::set<std::string>{"SN5"});
    EXPECT_TRUE(config.previous_serial_numbers_map.empty()) << "no USB identifier in hand";

    // Known and present: recorded again, nothing copied.
    fs::remove(workRoot() / "SN5" / "Correct" / "Default" / "a.dft");
    EXPECT_TRUE(status.create_serial_folder());
    EXPECT_FALSE(fs::exists(workRoot() / "SN5" / "Correct" / "Default" / "a.dft"));
}

} // namespace
