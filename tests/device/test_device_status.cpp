// Opening a sensor on the simulated SDK: which sensor and which folder createDetector chooses, the
// reopen from the serial folder, the first-time sensor's serial folder and history, the correction
// exchange, the trigger modes, and serial numbers that would lead outside the work root.
#include "tests/device/connection_fixture.h"

#include "sensor-sim/sim_errors.h"

namespace {

using namespace conntest;
using sensorbus::SensorEntry;

// One selection: what is plugged and known, what createDetector is asked, and what it opens.
struct Selection {
    const char* name;
    std::vector<SensorEntry> plugged;
    std::map<std::string, std::string> map; // USB identifier -> serial number, in config.json
    std::vector<std::string> serialFolders; // serial folders present (DS1 sensors)
    std::optional<std::string> expected;
    bool strict;
    std::optional<std::string> usbId;
    int result;
    const char* workFolder; // the folder opened ("" none)
    std::uint8_t status;
    bool loaded; // the SDK library was loaded
};

const SensorEntry kSn1{"U1", "SN1", "DS1", {}};
const SensorEntry kSn2{"U2", "SN2", "DS1", {}};
const SensorEntry kSn3{"U3", "SN3", "DS1", {}};
const SensorEntry kSn2OfDs2{"U2", "SN2", "DS2", {}};
const auto none = std::nullopt;

// clang-format off
const Selection kSelections[] = {
    // name, plugged, map, serial folders, expected, strict, usbId -> result, folder, status, loaded
    {"NoSensor", {}, {}, {}, none, false, none, kDeviceNoSensor, "", kStatusStarting, false},
    {"StrictUnknownSensor", {kSn1}, {}, {"SN1"}, "SN1", true, none, kDeviceNoSensor, "", kStatusStarting,
     false},
    {"FirstTimeDS1", {kSn1}, {}, {}, none, false, none, 0, "DS1_temp", kStatusReady, true},
    {"FirstTimeDS2", {kSn2OfDs2}, {}, {}, none, false, none, 0, "DS2_temp", kStatusReady, true},
    // The enumeration gives lower-case identifiers; the map holds what was in hand when recorded.
    {"KnownThroughMap", {kSn1}, {{"u1", "SN1"}}, {"SN1"}, none, false, none, 0, "SN1", kStatusReady, true},
    // A sensor first recorded by its arrival: the key in broadcast case still finds it.
    {"MapKeyInBroadcastCaseIsFound", {kSn1}, {{"U1", "SN1"}}, {"SN1"}, none, false, none, 0, "SN1",
     kStatusReady, true},
    {"MapKeyInOtherCaseFoundOnArrival", {kSn1}, {{"u1", "SN1"}}, {"SN1"}, none, false, "U1", 0, "SN1",
     kStatusReady, true},
    {"StrictExpectedAmongTwo", {kSn1, kSn2}, {{"u1", "SN1"}, {"u2", "SN2"}}, {"SN1", "SN2"}, "SN2", true,
     none, 0, "SN2", kStatusReady, true},
    {"StrictSerialFolderMissing", {kSn1}, {{"u1", "SN1"}}, {}, "SN1", true, none, sensorsim::kErrNoWorkFolder,
     "", kStatusNotCreated, true},
    {"ExpectedSensorNotPluggedFallsBackToCopy", {kSn1}, {}, {"SN9"}, "SN9", false, none, 0, "DS1_temp",
     kStatusReady, true},
    {"TwoUnknownSensors", {kSn1, kSn3}, {}, {}, none, false, none, 0, "DS1_temp", kStatusReady, true},
    {"ArrivalIdentifierMapped", {kSn1}, {{"U1", "SN1"}}, {"SN1"}, none, false, "U1", 0, "SN1", kStatusReady,
     true},
};
// clang-format on

void PrintTo(const Selection& s, std::ostream* out) {
    *out << s.name;
}

class CreateDetector : public Connection, public testing::WithParamInterface<Selection> {};

TEST_P(CreateDetector, ChoosesSensorAndFolder) {
    const Selection& s = GetParam();
    for (const auto& sensor : s.plugged) {
        plug(sensor.serial, sensor.usbId, sensor.product);
    }
    for (const auto& serial : s.serialFolders) {
        makeSerialFolder(serial);
    }
    std::set<std::string> previous;
    for (const auto& [usbId, serial] : s.map) {
        previous.insert(serial);
    }
    writeHistory(std::nullopt, previous, s.map);

    const int result = status->createDetector(workRoot(), wrapper, s.expected, s.strict, s.usbId);
    EXPECT_EQ(result, s.result);
    EXPECT_EQ(status->status(), s.status);
    if (s.result == 0 || s.result == kDeviceReopen) {
        EXPECT_EQ(workFolderName(), s.workFolder);
    }
    ASSERT_TRUE(wrapper->detector());
    EXPECT_EQ(wrapper->detector()->loaded(), s.loaded);
    EXPECT_EQ(staticInstance(), wrapper);
    EXPECT_EQ(hasLine("createDetector 3"), s.loaded);
    const bool fromCopy = std::string(s.workFolder).ends_with("_temp");
    EXPECT_EQ(wrapper->tempFolder().has_value(), fromCopy);
}

INSTANTIATE_TEST_SUITE_P(Selections, CreateDetector, testing::ValuesIn(kSelections),
                         [](const testing::TestParamInfo<Selection>& info) { return info.param.name; });

TEST_F(Connection, NoCopyConnectsGivesTheLastCopysError) {
    plug("SN1", "U1");
    // A work root whose DS1 folder was changed to name DS2 (newer than the installation's, so it is
    // kept): neither copy reaches the DS1 sensor.
    ASSERT_TRUE(sensorbus::writeProductFile(workRoot() / "DS1", "DS2"));
    EXPECT_EQ(status->createDetector(workRoot(), wrapper, std::nullopt, false, "U1"),
              sensorsim::kErrNoSensor);
    EXPECT_EQ(status->status(), kStatusNotConnected);
    EXPECT_EQ(countLines(appfiles::logLines(), "createDetector 7"), 2);
}

TEST_F(Connection, KnownSensorFromProductCopyIsReopenedFromItsSerialFolder) {
    plug("SN1", "U1");
    makeSerialFolder("SN1");
    writeHistory(std::nullopt, {"SN1"}, {});

    EXPECT_FALSE(status->initDevice(wrapper, std::nullopt, false, std::nullopt));
    EXPECT_EQ(status->status(), kStatusReopen);
    EXPECT_EQ(status->serialNumber(), "SN1");
    EXPECT_EQ(readConfigFile().last_serial_number, "SN1");
    EXPECT_TRUE(hasLine("createDetector 8.3"));
    EXPECT_FALSE(wrapper->detector()) << "the first source open closes what it opened";

    // The next attempt opens the serial folder, as last_serial_number now names it.
    EXPECT_TRUE(status->initDevice(wrapper, readConfigFile().last_serial_number, false, std::nullopt));
    EXPECT_EQ(workFolderName(), "SN1");
    EXPECT_EQ(status->status(), kStatusReady);
}

TEST_F(Connection, FirstTimeSensorGetsItsSerialFolderAndHistory) {
    plug("SN7", "U7");
    showDialog();
    ASSERT_TRUE(status->initDevice(wrapper, std::nullopt, false, std::nullopt));
    EXPECT_EQ(status->usbId(), "u7");
    status->onConnect();

    EXPECT_TRUE(hasLine("onConnect success"));
    EXPECT_TRUE(fs::exists(workRoot() / "SN7" / "product.txt"));
    EXPECT_TRUE(fs::exists(workRoot() / "SN7" / "Correct" / "Default" / "a.dft"));
    const ConfigFile config = readConfigFile();
    EXPECT_EQ(config.last_serial_number, "SN7");
    EXPECT_EQ(config.previous_serial_numbers, std::set<std::string>{"SN7"});
    EXPECT_EQ(config.previous_serial_numbers_map.at("u7"), "SN7");
    EXPECT_EQ(status->serialNumber(), "SN7");

    // Opened from its own folder the next time: only the history is written again.
    DeinitV2(wrapper);
    ASSERT_TRUE(status->initDevice(wrapper, "SN7", true, std::nullopt));
    EXPECT_EQ(workFolderName(), "SN7");
    status->onConnect();
    EXPECT_EQ(countLines(appfiles::logLines(), "mkdir!"), 1);
}

TEST_F(Connection, CorrectionFailureWaitsForFilesAndReinitStarts) {
    fs::remove_all(workRoot() / "DS1" / "Correct");
    plug("SN4", "U4");

    EXPECT_FALSE(status->initDevice(wrapper, std::nullopt, false, std::nullopt));
    EXPECT_EQ(status->status(), kStatusCorrectionFailed);
    EXPECT_TRUE(status->correctionFailed());
    EXPECT_EQ(status->currentWorkFolder(), workRoot() / "DS1_temp");

    // What the dialog does: files into the current work folder, then a new start.
    addCorrections(status->currentWorkFolder());
    EXPECT_TRUE(status->reinitDevice());
    EXPECT_EQ(status->status(), kStatusReady);
    EXPECT_FALSE(status->correctionFailed());
}

TEST_F(Connection, AcknowledgedCorrectionFailureIsNoLongerReported) {
    fs::remove_all(workRoot() / "DS1" / "Correct");
    plug("SN4", "U4");
    EXPECT_FALSE(status->initDevice(wrapper, std::nullopt, false, std::nullopt));
    ASSERT_TRUE(status->correctionFailed());
    EXPECT_FALSE(status->acknowledgeStatus()) << "no dialog to tell";
    EXPECT_FALSE(status->correctionFailed());
    EXPECT_EQ(status->status(), kStatusCorrectionFailed);
}

struct TriggerCase {
    int mode;
    bool started;
    const char* line;
};

void PrintTo(const TriggerCase& c, std::ostream* out) {
    *out << c.mode;
}

class TriggerMode : public Connection, public testing::WithParamInterface<TriggerCase> {};

TEST_P(TriggerMode, DecidesWhetherTheSensorStays) {
    plug("SN5", "U5", "DS1", GetParam().mode);
    EXPECT_EQ(status->initDevice(wrapper, std::nullopt, false, std::nullopt), GetParam().started);
    EXPECT_TRUE(hasLine(GetParam().line));
    EXPECT_EQ(hasLine("Finihsed trigger mode"), GetParam().started);
    EXPECT_EQ(wrapper->detector() != nullptr, GetParam().started);
}

INSTANTIATE_TEST_SUITE_P(Modes, TriggerMode,
                         testing::Values(TriggerCase{2, true, "Press [Enter] to acquiring image"},
                                         TriggerCase{6, true, "Please expose to acquiring image"},
                                         TriggerCase{7, true, "Please expose to acquiring image"},
                                         TriggerCase{5, false, "Wrong trigger mode!"}),
                         [](const testing::TestParamInfo<TriggerCase>& info) {
                             return "Mode" + std::to_string(info.param.mode);
                         });

// Serial numbers from the caller, the configuration or its map become folder names under the work
// root; these would lead elsewhere, and are refused.
class HostileSerial : public Connection, public testing::WithParamInterface<const char*> {
protected:
    void expectRefusedAndContained() {
        EXPECT_TRUE(hasLine(std::string("Refused serial number: \"") + GetParam() + "\""));
        EXPECT_EQ(workFolderName(), "DS1_temp");
        EXPECT_FALSE(fs::exists(testenv::appDataFolder() / "vanto_sensor" / "outside"));
        EXPECT_FALSE(fs::exists(testenv::tempRoot() / "outside"));
        EXPECT_FALSE(fs::exists(fs::path("/tmp/ostra-outside")));
    }
};

TEST_P(HostileSerial, AsExpectedSerial) {
    plug("SN1", "U1");
    EXPECT_EQ(status->createDetector(workRoot(), wrapper, GetParam(), false, std::nullopt), 0);
    expectRefusedAndContained();
    EXPECT_EQ(status->createDetector(workRoot(), wrapper, GetParam(), true, std::nullopt), kDeviceNoSensor);
}

TEST_P(HostileSerial, AsLastSerialNumber) {
    plug("SN1", "U1");
    writeHistory(GetParam(), {GetParam()}, {});
    status->setExpectedSerial(GetParam());
    EXPECT_EQ(status->serialNumber(), std::nullopt);
    setStaticInstance(wrapper);
    status->tryInit(std::nullopt, false);
    expectRefusedAndContained();
}

TEST_P(HostileSerial, InTheUsbMap) {
    plug("SN1", "U1");
    writeHistory(std::nullopt, {}, {{"u1", GetParam()}, {"U1", GetParam()}});
    EXPECT_EQ(status->createDetector(workRoot(), wrapper, std::nullopt, false, std::nullopt), 0);
    expectRefusedAndContained();
    EXPECT_EQ(status->createDetector(workRoot(), wrapper, std::nullopt, false, "U1"), 0);
}

INSTANTIATE_TEST_SUITE_P(Values, HostileSerial,
                         testing::Values("../outside", "..", ".", "../../outside", "a/../../outside",
                                         "/tmp/ostra-outside", "C:outside", "x\\..\\..\\outside", "DS1.",
                                         "SN1 "),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return "Case" + std::to_string(info.index);
                         });

} // namespace
