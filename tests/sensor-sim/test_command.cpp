// The sensor-sim command: its answers to good and bad arguments, and the real program acting on
// the bus from a process of its own.
#include "sensor-sim/bus.h"
#include "sensor-sim/command.h"
#include "sensor-sim/corrections.h"
#include "sensor-sim/faults.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

Outcome run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = sensorsim::runCommand(args, out, err);
    return {status, out.str(), err.str()};
}

sensorbus::Bus bus() {
    return sensorbus::Bus(testenv::busFolder());
}

TEST(SensorSimCommand, PlugExposeListUnplug) {
    Outcome r = run({"plug", "SN-1"});
    EXPECT_EQ(r.status, sensorsim::kExitOk) << r.err;
    const std::string id = sensorbus::defaultUsbId("SN-1");
    EXPECT_EQ(r.out, "plugged SN-1 (DS1) as USB identifier " + id + "\n");

    r = run({"plug", "SN-2", "--product", "DS2", "--usb-id", "U2", "--trigger-mode", "7"});
    EXPECT_EQ(r.status, sensorsim::kExitOk) << r.err;
    r = run({"list"});
    const std::string disks = (testenv::busFolder() / "corrections").string();
    EXPECT_EQ(r.out, id + "\tSN-1\tDS1\tcorrections=" + disks +
                         "/SN-1\nU2\tSN-2\tDS2\ttrigger_mode=7\tcorrections=" + disks + "/SN-2\n");

    r = run({"expose", "--count", "3"});
    EXPECT_EQ(r.status, sensorsim::kExitOk) << r.err;
    EXPECT_EQ(r.out, "3 exposures requested for " + id + " (SN-1)\n3 exposures requested for U2 (SN-2)\n");
    r = run({"expose", "--usb-id", "U2"});
    EXPECT_EQ(r.out, "1 exposure requested for U2 (SN-2)\n");
    EXPECT_EQ(bus().exposureCount(id), 3u);
    EXPECT_EQ(bus().exposureCount("U2"), 4u);

    EXPECT_EQ(run({"unplug", "U2"}).out, "unplugged U2\n");
    EXPECT_EQ(run({"unplug", "SN-1"}).out, "unplugged " + id + "\n"); // by serial number
    EXPECT_EQ(run({"list"}).out, "");
}

TEST(SensorSimCommand, FaultsAreSetReplacedListedAndCleared) {
    EXPECT_EQ(run({"fault", "fail", "connect", "108"}).out, "fault set: fail connect 108\n");
    EXPECT_EQ(run({"fault", "late", "correction", "2500"}).status, sensorsim::kExitOk);
    EXPECT_EQ(run({"fault", "fail", "connect", "111"}).status, sensorsim::kExitOk); // replaces
    EXPECT_EQ(run({"fault", "frame-size", "7", "5"}).status, sensorsim::kExitOk);
    EXPECT_EQ(run({"fault", "unplug-in-exposure"}).status, sensorsim::kExitOk);
    EXPECT_EQ(run({"fault"}).out,
              "late correction 2500\nfail connect 111\nframe-size 7 5\nunplug-in-exposure\n");
    const auto faults = sensorbus::Faults::of(bus());
    EXPECT_EQ(faults.failCode("connect"), 111);
    EXPECT_EQ(faults.failCode("create"), std::nullopt);
    EXPECT_EQ(faults.lateMs("correction"), 2500);
    EXPECT_EQ(faults.frameSize(), std::make_pair(7, 5));
    EXPECT_TRUE(faults.has("unplug-in-exposure"));

    for (const std::vector<std::string>& bad :
         std::vector<std::vector<std::string>>{{"fault", "fail", "connect"},
                                               {"fault", "fail", "expose", "108"},
                                               {"fault", "fail", "connect", "99"},
                                               {"fault", "late", "create", "10"},
                                               {"fault", "late", "connect", "0"},
                                               {"fault", "frame-size", "7", "-1"},
                                               {"fault", "duplicate-events", "twice"},
                                               {"fault", "melt"},
                                               {"fault", "clear", "fail", "connect", "now"}}) {
        const Outcome r = run(bad);
        EXPECT_EQ(r.status, sensorsim::kExitUsage) << bad[1];
        EXPECT_NE(r.err.find("sensor-sim: "), std::string::npos) << bad[1];
    }
    EXPECT_EQ(run({"fault", "clear", "fail", "connect"}).out, "fault fail connect cleared\n");
    EXPECT_EQ(run({"fault"}).out, "late correction 2500\nframe-size 7 5\nunplug-in-exposure\n");
    EXPECT_EQ(run({"fault", "clear"}).out, "faults cleared\n");
    EXPECT_EQ(run({"fault"}).out, "");
    EXPECT_NE(run({"--help"}).out.find("fault clear [NAME [STEP]]"), std::string::npos);
}

TEST(SensorSimCommand, BadArgumentsGetClearErrors) {
    ASSERT_EQ(run({"plug", "SN-1", "--usb-id", "U1"}).status, sensorsim::kExitOk);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{}, sensorsim::kExitUsage, "no command given"},
        {{"frobnicate"}, sensorsim::kExitUsage, "unknown command \"frobnicate\""},
        {{"plug"}, sensorsim::kExitUsage, "plug needs a serial number"},
        {{"plug", "A", "B"}, sensorsim::kExitUsage, "plug takes one serial number"},
        {{"plug", "../etc"}, sensorsim::kExitUsage, "invalid serial number \"../etc\""},
        {{"plug", "SN-2", "--product", "DS9"}, sensorsim::kExitUsage, "unknown product \"DS9\""},
        {{"plug", "SN-2", "--product"}, sensorsim::kExitUsage, "option --product needs a value"},
        {{"plug", "SN-2", "--colour", "red"}, sensorsim::kExitUsage, "unknown option --colour for plug"},
        {{"plug", "SN-2", "--usb-id", "a#b"}, sensorsim::kExitUsage, "invalid USB identifier \"a#b\""},
        {{"plug", "SN-2", "--trigger-mode", "six"}, sensorsim::kExitUsage, "invalid trigger mode \"six\""},
        {{"plug", "SN-2", "--usb-id", "A", "--usb-id", "B"},
         sensorsim::kExitUsage,
         "option --usb-id given twice"},
        {{"plug", "SN-2", "--usb-id", "U1"},
         sensorsim::kExitFailed,
         "a sensor with USB identifier U1 is already plugged"},
        {{"plug", "SN-1"}, sensorsim::kExitFailed, "a sensor with serial number SN-1 is already plugged"},
        {{"unplug"}, sensorsim::kExitUsage, "unplug needs a USB identifier"},
        {{"unplug", "U9"}, sensorsim::kExitFailed, "no sensor with USB identifier U9 is plugged"},
        {{"expose", "--count", "0"}, sensorsim::kExitUsage, "invalid exposure count \"0\""},
        {{"expose", "--count", "2x"}, sensorsim::kExitUsage, "invalid exposure count \"2x\""},
        {{"expose", "--usb-id", "U9"}, sensorsim::kExitFailed, "no sensor with USB identifier U9 is plugged"},
        {{"expose", "now"}, sensorsim::kExitUsage, "expose takes no word \"now\""},
        {{"list", "all"}, sensorsim::kExitUsage, "list takes no word \"all\""},
        {{"--bus"}, sensorsim::kExitUsage, "option --bus needs a folder"},
    };
    for (const Case& c : cases) {
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find("sensor-sim: " + c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(bus().sensors().size(), 1u);
}

TEST(SensorSimCommand, ExposeWithNothingPluggedAndNoBus) {
    Outcome r = run({"expose"});
    EXPECT_EQ(r.status, sensorsim::kExitFailed);
    EXPECT_EQ(r.err, "sensor-sim: no sensor is plugged\n");

    unsetenv(sensorbus::kBusVariable);
    r = run({"list"});
    EXPECT_EQ(r.status, sensorsim::kExitUsage);
    EXPECT_EQ(r.err, "sensor-sim: no bus folder: set OSTRA_SENSOR_BUS or give --bus FOLDER\n");

    // --bus names the folder instead.
    const auto other = testenv::tempRoot() / "other-bus";
    EXPECT_EQ(run({"--bus", other.string(), "plug", "SN-5"}).status, sensorsim::kExitOk);
    EXPECT_EQ(sensorbus::Bus(other).sensors().size(), 1u);
    setenv(sensorbus::kBusVariable, testenv::busFolder().c_str(), 1);
    EXPECT_TRUE(bus().sensors().empty());

    r = run({"--help"});
    EXPECT_EQ(r.status, sensorsim::kExitOk);
    EXPECT_EQ(r.out.rfind("usage: sensor-sim", 0), 0u);
}

// Every plugged sensor comes with its calibration disk: one offset and one gain file naming it.
TEST(SensorSimCommand, PlugWritesTheSensorsOwnCorrectionFiles) {
    ASSERT_EQ(run({"plug", "SN-9"}).status, sensorsim::kExitOk);
    const auto folder = sensorbus::correctionsFolder(testenv::busFolder(), "SN-9");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
        EXPECT_EQ(sensorbus::correctionFileSerial(entry.path()), "SN-9") << entry.path();
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"SN-9.dft", "SN-9.gn"}));
    EXPECT_TRUE(sensorbus::holdsCorrectionFilesFor(folder, "SN-9"));
    EXPECT_FALSE(sensorbus::holdsCorrectionFilesFor(folder, "SN-8"));
    EXPECT_EQ(run({"unplug", "SN-9"}).status, sensorsim::kExitOk);
}

// The installed program, run as a user would, in a process of its own.
TEST(SensorSimProgram, ActsOnTheBusOfItsEnvironment) {
    const std::string program = std::string("\"") + SENSOR_SIM + "\"";
    FILE* pipe = popen((program + " plug SN-7 --usb-id P7 && " + program + " list 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    std::array<char, 256> chunk{};
    while (fgets(chunk.data(), chunk.size(), pipe) != nullptr) {
        output += chunk.data();
    }
    EXPECT_EQ(pclose(pipe), 0);
    EXPECT_EQ(output, "plugged SN-7 (DS1) as USB identifier P7\nP7\tSN-7\tDS1\tcorrections=" +
                          (testenv::busFolder() / "corrections" / "SN-7").string() + "\n");
    EXPECT_EQ(WEXITSTATUS(std::system((program + " unplug Q1 2>/dev/null").c_str())), sensorsim::kExitFailed);
    EXPECT_EQ(WEXITSTATUS(std::system((program + " 2>/dev/null").c_str())), sensorsim::kExitUsage);
}

} // namespace
