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
        // Windows device names, in any case and with any extension.
        {"CON", false},
        {"nul", false},
        {"Aux.txt", false},
        {"prn.tar.gz", false},
        {"COM1", false},
        {"lpt9.log", false},
        {"NUL .x", false},
        {"COM0", true},
        {"COM10", true},
        {"CONSOLE", true},
        {"SN.CON", true},
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

// A link in a folder being copied is not followed: what it points to stays where it is.
TEST(FolderCopy, SkipsSymbolicLinks) {
    const fs::path from = testenv::tempRoot() / "links" / "from";
    const fs::path outside = testenv::tempRoot() / "links" / "outside";
    fs::create_directories(from / "Correct");
    fs::create_directories(outside / "deep");
    std::ofstream(from / "Correct" / "a.dft") << "offset";
    std::ofstream(outside / "patient.raw") << "patient";
    std::ofstream(outside / "deep" / "b.raw") << "patient";
    fs::create_symlink(outside / "patient.raw", from / "file-link");
    fs::create_directory_symlink(outside, from / "folder-link");

    for (const auto copy : {copyFolder, copyMissing}) {
        const fs::path to = testenv::tempRoot() / "links" / (copy == copyFolder ? "all" : "missing");
        EXPECT_FALSE(copy(from, to));
        EXPECT_TRUE(fs::exists(to / "Correct" / "a.dft"));
        EXPECT_FALSE(fs::exists(fs::symlink_status(to / "file-link")));
        EXPECT_FALSE(fs::exists(fs::symlink_status(to / "folder-link")));
    }
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

// A serial folder that exists already is the sensor's own, even when nothing expected it: its
// corrections are kept and only what it lacks is added.
TEST_F(SerialFolder, ExistingSerialFolderKeepsItsOwnFiles) {
    fs::create_directories(workRoot() / "SN6" / "Correct" / "Default");
    std::ofstream(workRoot() / "SN6" / "Correct" / "Default" / "a.dft") << "own";
    std::ofstream(workRoot() / "DS1_temp" / "Correct" / "Default" / "a.gn") << "gain";
    sensorSerial("SN6");
    EXPECT_TRUE(status.create_serial_folder());
    EXPECT_EQ(appfiles::read(workRoot() / "SN6" / "Correct" / "Default" / "a.dft"), "own");
    EXPECT_EQ(appfiles::read(workRoot() / "SN6" / "Correct" / "Default" / "a.gn"), "gain");
}

// An SDK that does not refuse a foreign sensor opens sensor SN2 on SN1's folder: it is closed and
// opened on its own folder, or, without one, from the product copy.
TEST_F(SerialFolder, SensorOnAnotherSensorsFolderIsOpenedOnItsOwn) {
    sdk.setInvokeResult(0);
    sensorSerial("SN2");
    fs::create_directories(workRoot() / "SN1");
    for (const bool ownFolder : {true, false}) {
        SCOPED_TRACE(ownFolder ? "own folder" : "no own folder");
        if (ownFolder) {
            fs::create_directories(workRoot() / "SN2");
        } else {
            fs::remove_all(workRoot() / "SN2");
        }
        const int destroyed = sdk.calls("Destroy");
        EXPECT_EQ(status.createDetector(workRoot(), wrapper, "SN1", false, "U9"), 0);
        const std::string opened = ownFolder ? "SN2" : "DS1_temp";
        EXPECT_EQ(wrapper->workFolder(), workRoot() / opened);
        EXPECT_TRUE(sdk.lastFolder().ends_with("/" + opened)) << sdk.lastFolder();
        EXPECT_EQ(sdk.calls("Destroy"), destroyed + 2) << "the open instance, then SN1's";
        EXPECT_NE(status.serialNumber(), "SN1");
    }
    DeinitV2(wrapper);
}

} // namespace
