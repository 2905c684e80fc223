// The simulated SDK end to end through the driver's binding: attributes, the four commands with
// their events, which sensor a work folder connects to, and exposures from the bus.
#include "sensor-sim/corrections.h"
#include "sensor-sim/products.h"
#include "sensor-sim/sim_errors.h"
#include "sensor-sim/synthetic_image.h"
#include "tests/common/eventually.h"
#include "tests/sensor-sim/sim_fixture.h"

#include <cstdlib>

namespace {

using simtest::EventLog;
using simtest::fs::path;

class Simulator : public simtest::Simulated {};

TEST_F(Simulator, CommandsAndAttributesOfAConnectedSensor) {
    plug("SN-A");
    const path folder = productCopy("DS1", "DS1_temp");
    auto detector = open(folder);

    EXPECT_EQ(detector->getAttrInt(fpd::kAttrImageWidth), 1000);
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrImageHeight), 1500);
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrConnectionState), 0);
    AttributeBuffer buffer;
    EXPECT_EQ(detector->getAttr(fpd::kAttrSerialNumber, buffer), sensorsim::kErrNotConnected);
    EXPECT_EQ(attributeText(buffer), "");

    EXPECT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 10000), 0);
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrConnectionState), 1);
    EXPECT_EQ(detector->getAttrText(fpd::kAttrSerialNumber), "SN-A");

    // Correction needs an offset and a gain file.
    const int failed = detector->invokeAndWaitInt(fpd::kCmdCorrection, fpd::kCorrectionMode, 2000);
    EXPECT_EQ(failed, sensorsim::kErrNoCorrectionFiles);
    EXPECT_EQ(detector->errorText(failed), "Correction files not found in Correct/Default");
    addCorrectionFiles(folder);
    EXPECT_EQ(detector->invokeAndWaitInt(fpd::kCmdCorrection, fpd::kCorrectionMode, 2000), 0);
    EXPECT_EQ(detector->invokeAndWaitInt(fpd::kCmdCorrection, 5, 2000), sensorsim::kErrInvalidParameter);
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrConnectionState), 2);

    // The trigger mode written takes effect with the write-parameters command.
    EXPECT_EQ(detector->setAttrInt(fpd::kAttrTriggerModeSetting, 7), 0);
    EXPECT_EQ(detector->setAttrInt(fpd::kAttrTriggerThreshold, 3), 0);
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrTriggerMode), 6);
    EXPECT_EQ(detector->invokeAndWait(fpd::kCmdWriteParams, 3000), 0);
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrTriggerMode), 7);
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrTriggerThreshold), 3);

    EXPECT_EQ(detector->setAttrInt(fpd::kAttrTriggerMode, 2), sensorsim::kErrReadOnlyAttribute);
    EXPECT_EQ(detector->setAttrInt(fpd::kAttrTriggerModeSetting, 99), sensorsim::kErrInvalidParameter);
    EXPECT_EQ(detector->setAttrInt(4242, 1), sensorsim::kErrUnknownAttribute);
    EXPECT_EQ(detector->invokeAndWait(4242, 1000), sensorsim::kErrUnknownCommand);

    // The software start is acknowledged on the simulator's thread, after Invoke returned 1.
    EXPECT_EQ(detector->invoke(fpd::kCmdStartAcquisition), fpd::kPending);
    EXPECT_TRUE(EventLog::instance().waitFor([](const auto& events) {
        return !events.empty() && events.back().event == fpd::kEvtCommandFinished &&
               events.back().param1 == fpd::kCmdStartAcquisition;
    }));
}

// Like a real detector, the simulated one takes its own correction files or a generic pair naming no
// sensor, and refuses another sensor's.
TEST_F(Simulator, CorrectionTakesOnlyTheSensorsOwnFiles) {
    plug("SN-A");
    const path folder = productCopy("DS1", "SN-A");
    auto detector = open(folder);
    ASSERT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 10000), 0);
    const path corrections = folder / "Correct" / "Default";
    struct Case {
        const char* name;
        const char* serial; // the pair added to the corrections folder
        int result;
    };
    const Case cases[] = {
        {"another sensor's pair", "SN-B", sensorsim::kErrNoCorrectionFiles},
        {"its own pair beside it", "SN-A", 0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(sensorbus::writeCorrectionFiles(corrections, c.serial));
        EXPECT_EQ(detector->invokeAndWaitInt(fpd::kCmdCorrection, fpd::kCorrectionMode, 2000), c.result)
            << c.name;
    }
    std::filesystem::remove_all(corrections);
    addCorrectionFiles(folder); // generic files
    EXPECT_EQ(detector->invokeAndWaitInt(fpd::kCmdCorrection, fpd::kCorrectionMode, 2000), 0);
}

TEST_F(Simulator, CreateNeedsAProductFolder) {
    const path bare = workRoot() / "bare";
    simtest::fs::create_directories(bare);
    const path unknown = workRoot() / "unknown";
    ASSERT_TRUE(sensorbus::writeProductFile(unknown, "DS9"));
    struct Case {
        path folder;
        int expected;
    };
    for (const Case& c : {Case{workRoot() / "missing", sensorsim::kErrNoWorkFolder},
                          Case{bare, sensorsim::kErrNoProduct}, Case{unknown, sensorsim::kErrNoProduct}}) {
        auto detector = open(c.folder, c.expected);
        EXPECT_EQ(detector->detectorId(), 0);
    }
    CDetector detector;
    EXPECT_EQ(detector.create("", simtest::recordEvent), sensorsim::kErrInvalidParameter);
    EXPECT_EQ(detector.errorText(sensorsim::kErrNoWorkFolder), "Work directory not found");
    EXPECT_EQ(detector.errorText(0), "Succeed");
    EXPECT_EQ(detector.errorText(9999), "Unknown error 9999");
}

TEST_F(Simulator, WorkFolderDecidesWhichSensorConnects) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> plugged; // serial, product
        std::string product;
        std::string folder;
        int expected;
        std::string serial;
    };
    const std::vector<Case> cases = {
        {"nothing plugged", {}, "DS1", "DS1_temp", sensorsim::kErrNoSensor, ""},
        {"other product only", {{"SN-2", "DS2"}}, "DS1", "DS1_temp", sensorsim::kErrNoSensor, ""},
        {"product copy takes its product", {{"SN-2", "DS2"}, {"SN-1", "DS1"}}, "DS2", "DS2_temp", 0, "SN-2"},
        {"product folder itself", {{"SN-1", "DS1"}}, "DS1", "DS1", 0, "SN-1"},
        {"serial folder of an absent sensor", {{"SN-1", "DS1"}}, "DS1", "SN-9", sensorsim::kErrNoSensor, ""},
        {"serial folder of its sensor", {{"SN-1", "DS1"}, {"SN-9", "DS1"}}, "DS1", "SN-9", 0, "SN-9"},
    };
    for (const Case& c : cases) {
        for (const auto& sensor : bus().sensors()) {
            bus().unplug(sensor.usbId);
        }
        for (const auto& [serial, product] : c.plugged) {
            plug(serial, product);
        }
        auto detector = open(productCopy(c.product, c.folder));
        EXPECT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 10000), c.expected) << c.what;
        EXPECT_EQ(detector->getAttrText(fpd::kAttrSerialNumber), c.serial) << c.what;
    }
}

TEST_F(Simulator, OneSensorServesOneDetector) {
    plug("SN-A");
    auto first = open(productCopy("DS1", "DS1_temp"));
    auto second = open(productCopy("DS1", "DS1"));
    EXPECT_EQ(first->invokeAndWait(fpd::kCmdConnect, 10000), 0);
    EXPECT_EQ(second->invokeAndWait(fpd::kCmdConnect, 10000), sensorsim::kErrSensorInUse);
    first->destroy();
    EXPECT_EQ(second->invokeAndWait(fpd::kCmdConnect, 10000), 0);
}

TEST_F(Simulator, CommandsNeedAConnection) {
    auto detector = open(productCopy("DS2", "DS2_temp"));
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrImageWidth), 1300);
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrImageHeight), 1700);
    EXPECT_EQ(detector->invokeAndWait(fpd::kCmdWriteParams, 3000), sensorsim::kErrNotConnected);
    EXPECT_EQ(detector->invokeAndWaitInt(fpd::kCmdCorrection, fpd::kCorrectionMode, 2000),
              sensorsim::kErrNotConnected);
}

TEST_F(Simulator, ExposuresRequestedOnTheBusArriveAsEvents7Then1001) {
    plug("SN-A");
    const std::string usbId = sensorbus::defaultUsbId("SN-A");
    ASSERT_EQ(bus().requestExposures(usbId, 1), sensorbus::BusStatus::ok); // before the connection: not seen
    auto detector = open(productCopy("DS1", "DS1_temp"));
    ASSERT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 10000), 0);
    EventLog::instance().clear();

    ASSERT_EQ(bus().requestExposures(usbId, 2), sensorbus::BusStatus::ok);
    ASSERT_TRUE(EventLog::instance().waitFor([](const auto& events) { return events.size() >= 4; }));
    const auto events = EventLog::instance().events();
    ASSERT_EQ(events.size(), 4u);
    for (std::size_t i = 0; i < 4; i += 2) {
        EXPECT_EQ(events[i].event, fpd::kEvtTaskStarted);
        EXPECT_EQ(events[i].param1, fpd::kCmdAcquisitionTask);
        EXPECT_EQ(events[i + 1].event, fpd::kEvtImageReady);
        EXPECT_EQ(events[i + 1].width, 1000);
        EXPECT_EQ(events[i + 1].height, 1500);
        EXPECT_EQ(events[i + 1].depth, 2);
        // Exposure numbers count every request since the sensor was plugged.
        EXPECT_EQ(events[i + 1].pixels, sensorsim::syntheticExposure(1000, 1500, "SN-A", 2 + i / 2)) << i;
    }
}

TEST_F(Simulator, UnpluggedSensorDisconnects) {
    plug("SN-A", "DS1", 2);
    auto detector = open(productCopy("DS1", "DS1_temp"));
    ASSERT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 10000), 0);
    EXPECT_EQ(detector->invokeAndWait(fpd::kCmdWriteParams, 3000), 0);
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrTriggerMode), 2); // the sensor's fixed mode

    ASSERT_EQ(bus().unplug(sensorbus::defaultUsbId("SN-A")), sensorbus::BusStatus::ok);
    testenv::eventually([&] { return detector->getAttrInt(fpd::kAttrConnectionState) == 0; });
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrConnectionState), 0);
    EXPECT_EQ(detector->getAttrText(fpd::kAttrSerialNumber), "");
    EXPECT_EQ(detector->invokeAndWait(fpd::kCmdWriteParams, 3000), sensorsim::kErrNotConnected);
}

// A callback that destroys its own detector must neither hang nor crash the SDK's thread.
TEST_F(Simulator, CallbackMayDestroyItsOwnDetector) {
    plug("SN-A");
    auto detector = open(productCopy("DS1", "DS1_temp"));
    CDetector* target = detector.get();
    EventLog::instance().setHook([target](const simtest::Event& e) {
        if (e.event == fpd::kEvtCommandFinished && e.param1 == fpd::kCmdConnect) {
            target->destroy();
        }
    });
    EXPECT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 10000), 0);
    EXPECT_TRUE(EventLog::instance().waitFor([](const auto& events) { return !events.empty(); }));
    EventLog::instance().setHook(nullptr);
    EXPECT_EQ(detector->detectorId(), 0);
    EXPECT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 1000), sensorsim::kErrInvalidDetector);
}

// sensor-sim, in a process of its own, reaches the simulator running in this one.
TEST_F(Simulator, SensorSimCommandExposesTheConnectedSensor) {
    const std::string command = std::string("\"") + SENSOR_SIM + "\"";
    ASSERT_EQ(std::system((command + " plug SN-X --product DS2 --usb-id X1 >/dev/null").c_str()), 0);
    auto detector = open(productCopy("DS2", "DS2_temp"));
    ASSERT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 10000), 0);
    EXPECT_EQ(detector->getAttrText(fpd::kAttrSerialNumber), "SN-X");
    EventLog::instance().clear();

    ASSERT_EQ(std::system((command + " expose >/dev/null").c_str()), 0);
    ASSERT_TRUE(EventLog::instance().waitFor(
        [](const auto& events) { return !events.empty() && events.back().event == fpd::kEvtImageReady; }));
    const auto frame = EventLog::instance().events().back();
    EXPECT_EQ(frame.width, 1300);
    EXPECT_EQ(frame.pixels, sensorsim::syntheticExposure(1300, 1700, "SN-X", 1));

    ASSERT_EQ(std::system((command + " unplug X1 >/dev/null").c_str()), 0);
}

} // namespace

namespace {

// The entry points the driver resolves but never calls, and bad arguments to the others.
TEST(SimulatorEntryPoints, AnswerBadArgumentsWithCodes) {
    auto sdk =
        platform::Module::load(simtest::fs::path(OSTRA_TWAIN_FOLDER) / platform::libraryFileName("FpdSys"));
    ASSERT_TRUE(sdk.loaded());
    std::int32_t count = 0;
    ASSERT_EQ(sdk.function<fpd::GetProdCountFn>("GetProdCount")(&count), 0);
    EXPECT_EQ(count, 2);
    fpd::ProductInfo products[3]{};
    ASSERT_EQ(sdk.function<fpd::GetProdListFn>("GetProdList")(products, 3), 0);
    EXPECT_STREQ(products[1].name, "DS2");
    EXPECT_EQ(products[1].width, 1300);
    EXPECT_EQ(products[2].width, 0);

    const int invalid = sensorsim::kErrInvalidParameter;
    EXPECT_EQ(sdk.function<fpd::GetProdCountFn>("GetProdCount")(nullptr), invalid);
    EXPECT_EQ(sdk.function<fpd::GetProdListFn>("GetProdList")(nullptr, 1), invalid);
    EXPECT_EQ(sdk.function<fpd::GetErrInfoFn>("GetErrInfo")(108, nullptr), invalid);
    EXPECT_EQ(sdk.function<fpd::GetAttrFn>("GetAttr")(1, fpd::kAttrImageWidth, nullptr), invalid);
    EXPECT_EQ(sdk.function<fpd::CreateFn>("Create")("/tmp", nullptr, nullptr), invalid);
    fpd::AttributeValue value{};
    const int noDetector = sensorsim::kErrInvalidDetector;
    EXPECT_EQ(sdk.function<fpd::GetAttrFn>("GetAttr")(777, fpd::kAttrImageWidth, &value), noDetector);
    EXPECT_EQ(sdk.function<fpd::SetAttrFn>("SetAttr")(777, fpd::kAttrTriggerThreshold, &value), noDetector);
    EXPECT_EQ(sdk.function<fpd::InvokeFn>("Invoke")(777, fpd::kCmdConnect, nullptr, 0), noDetector);
    EXPECT_EQ(sdk.function<fpd::AbortFn>("Abort")(777), noDetector);
    EXPECT_EQ(sdk.function<fpd::DestroyFn>("Destroy")(777), noDetector);
}

} // namespace
