// The virtual sensor bus and the product files.
#include "sensor-sim/bus.h"
#include "sensor-sim/products.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using sensorbus::BusStatus;
using sensorbus::SensorEntry;

class Bus : public testing::Test {
protected:
    sensorbus::Bus bus{testenv::tempRoot() / "bus-" /
                       testing::UnitTest::GetInstance()->current_test_info()->name()};
};

TEST_F(Bus, PlugListUnplug) {
    EXPECT_TRUE(bus.sensors().empty()); // the folder does not exist yet
    const SensorEntry b{"B2", "SN-2", "DS2", 2};
    const SensorEntry a{"A1", "SN-1", "DS1", std::nullopt};
    ASSERT_EQ(bus.plug(b), BusStatus::ok);
    ASSERT_EQ(bus.plug(a), BusStatus::ok);
    EXPECT_EQ(bus.sensors(), (std::vector<SensorEntry>{a, b}));
    EXPECT_EQ(bus.sensor("B2"), b);
    EXPECT_EQ(bus.sensor("C3"), std::nullopt);
    EXPECT_EQ(bus.sensor("../B2"), std::nullopt);

    EXPECT_EQ(bus.unplug("A1"), BusStatus::ok);
    EXPECT_EQ(bus.unplug("A1"), BusStatus::notPlugged);
    EXPECT_EQ(bus.sensors(), std::vector<SensorEntry>{b});
}

TEST_F(Bus, RefusedPlugs) {
    ASSERT_EQ(bus.plug({"A1", "SN-1", "DS1", std::nullopt}), BusStatus::ok);
    struct Case {
        SensorEntry entry;
        BusStatus expected;
    };
    const std::vector<Case> cases = {
        {{"", "SN-9", "DS1", {}}, BusStatus::badUsbId},
        {{"a/b", "SN-9", "DS1", {}}, BusStatus::badUsbId},
        {{".hidden", "SN-9", "DS1", {}}, BusStatus::badUsbId},
        {{std::string(65, 'x'), "SN-9", "DS1", {}}, BusStatus::badUsbId},
        {{"C3", "..", "DS1", {}}, BusStatus::badSerial},
        {{"C3", "a\\b", "DS1", {}}, BusStatus::badSerial},
        {{"C3", "SN 9", "DS1", {}}, BusStatus::badSerial},
        {{"C3", "SN-9", "DS3", {}}, BusStatus::unknownProduct},
        {{"C3", "SN-9", "DS1", 256}, BusStatus::badTriggerMode},
        {{"C3", "SN-9", "DS1", -1}, BusStatus::badTriggerMode},
        {{"A1", "SN-9", "DS1", {}}, BusStatus::usbIdInUse},
        {{"C3", "SN-1", "DS2", {}}, BusStatus::serialInUse},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bus.plug(c.entry), c.expected) << c.entry.usbId << " " << c.entry.serial;
    }
    EXPECT_EQ(bus.sensors().size(), 1u);
    EXPECT_FALSE(sensorbus::describe(BusStatus::notPlugged, "C3").empty());
    EXPECT_EQ(sensorbus::describe(BusStatus::notPlugged, "C3"),
              "no sensor with USB identifier C3 is plugged");
}

TEST_F(Bus, MalformedAndTemporaryEntriesAreSkipped) {
    ASSERT_EQ(bus.plug({"A1", "SN-1", "DS1", std::nullopt}), BusStatus::ok);
    const auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(bus.folder() / name) << text;
    };
    write("B2.sensor", "usb_id=B2\nserial=SN-2\nproduct=DS7\n"); // unknown product
    write("C3.sensor", "usb_id=X9\nserial=SN-3\nproduct=DS1\n"); // name and identifier differ
    write("D4.sensor", "usb_id=D4\nproduct=DS1\n");              // no serial
    write("E5.sensor", "usb_id=E5\nserial=SN-5\nproduct=DS1\ntrigger_mode=x\n");
    write(".tmp-F6.sensor", "usb_id=.tmp-F6\nserial=SN-6\nproduct=DS1\n"); // being written
    write("G7.txt", "usb_id=G7\nserial=SN-7\nproduct=DS1\n");
    write("H8.sensor", "usb_id=H8\r\nserial=SN-8\r\nproduct=DS2\r\ncolour=blue\r\n"); // written on Windows
    fs::create_directories(bus.folder() / "I9.sensor");
    const auto sensors = bus.sensors();
    ASSERT_EQ(sensors.size(), 2u);
    EXPECT_EQ(sensors[0].usbId, "A1");
    EXPECT_EQ(sensors[1], (SensorEntry{"H8", "SN-8", "DS2", std::nullopt}));
}

TEST_F(Bus, ExposureRequestsCountFromThePlug) {
    EXPECT_EQ(bus.requestExposures("A1", 1), BusStatus::notPlugged);
    ASSERT_EQ(bus.plug({"A1", "SN-1", "DS1", std::nullopt}), BusStatus::ok);
    EXPECT_EQ(bus.exposureCount("A1"), 0u);
    for (int count : {0, -3, sensorbus::kMaxExposureRequest + 1}) {
        EXPECT_EQ(bus.requestExposures("A1", count), BusStatus::badCount) << count;
    }
    EXPECT_EQ(bus.requestExposures("A1", 1), BusStatus::ok);
    EXPECT_EQ(bus.requestExposures("A1", 3), BusStatus::ok);
    EXPECT_EQ(bus.exposureCount("A1"), 4u);

    // Pulling the sensor out forgets its requests; plugged again it counts from 0.
    ASSERT_EQ(bus.unplug("A1"), BusStatus::ok);
    EXPECT_EQ(bus.exposureCount("A1"), 0u);
    ASSERT_EQ(bus.plug({"A1", "SN-1", "DS1", std::nullopt}), BusStatus::ok);
    EXPECT_EQ(bus.exposureCount("A1"), 0u);
}

TEST_F(Bus, BusFolderComesFromTheEnvironment) {
    ASSERT_TRUE(sensorbus::Bus::fromEnvironment().has_value());
    EXPECT_EQ(sensorbus::Bus::fromEnvironment()->folder(), testenv::busFolder());
    setenv(sensorbus::kBusVariable, "", 1);
    EXPECT_FALSE(sensorbus::Bus::fromEnvironment().has_value());
    setenv(sensorbus::kBusVariable, testenv::busFolder().c_str(), 1);
}

TEST(BusNames, DefaultUsbIdIsStableAndUsable) {
    const std::string id = sensorbus::defaultUsbId("SN-1");
    EXPECT_EQ(id, sensorbus::defaultUsbId("SN-1"));
    EXPECT_NE(id, sensorbus::defaultUsbId("SN-2"));
    EXPECT_EQ(id.size(), 8u);
    EXPECT_TRUE(sensorbus::validIdentifier(id));
}

TEST(Products, ProductFileNamesTheProduct) {
    const fs::path folder = testenv::tempRoot() / "product";
    EXPECT_EQ(sensorbus::readProductFile(folder), std::nullopt);
    ASSERT_TRUE(sensorbus::writeProductFile(folder, "DS2"));
    ASSERT_TRUE(sensorbus::readProductFile(folder).has_value());
    EXPECT_EQ(sensorbus::readProductFile(folder)->width, 1300);
    for (const char* text : {"DS1\r\n", "DS1  \n", "DS1"}) {
        std::ofstream(folder / sensorbus::kProductFileName, std::ios::trunc) << text;
        ASSERT_TRUE(sensorbus::readProductFile(folder).has_value()) << text;
        EXPECT_EQ(sensorbus::readProductFile(folder)->height, 1500);
    }
    for (const char* text : {"", "ds1\n", "DS3\n", "\nDS1\n"}) {
        std::ofstream(folder / sensorbus::kProductFileName, std::ios::trunc) << text;
        EXPECT_EQ(sensorbus::readProductFile(folder), std::nullopt) << text;
    }
}

} // namespace
