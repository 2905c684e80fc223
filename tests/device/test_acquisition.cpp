// One exposure's whole road: sensor-sim, in a process of its own, asks the simulated sensor for an
// exposure; the simulator's thread reports events 7 and 1001 to SDKCallbackHandlerV2, which puts the
// inverted frame into its tile of the ImageHolder.
#include "device/device_wrapper.h"
#include "sensor-sim/bus.h"
#include "sensor-sim/synthetic_image.h"
#include "tests/common/eventually.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::vector<std::uint16_t> inverted(std::vector<std::uint16_t> samples) {
    for (auto& v : samples) {
        v = static_cast<std::uint16_t>(65535 - v);
    }
    return samples;
}

// Waits, within a generous bound, until the holder has `count` images.
bool waitForImages(const ImageHolder& holder, std::size_t count) {
    testenv::eventually([&] { return holder.imageCount() >= count; }, std::chrono::seconds(120));
    return holder.imageCount() == count;
}

int sensorSim(const std::string& arguments) {
    return std::system((std::string("\"") + SENSOR_SIM + "\" " + arguments + " >/dev/null").c_str());
}

TEST(Acquisition, ExposureFromSensorSimLandsInvertedInItsTile) {
    platform::setDriverFolder(fs::path(OSTRA_TWAIN_FOLDER));
    ASSERT_TRUE(platform::addDriverFolderToSearchPath());
    const fs::path folder = testenv::appDataFolder() / "vanto_sensor" / "work_dir" / "DS1_temp";
    fs::create_directories(folder.parent_path());
    fs::copy(fs::path(OSTRA_TWAIN_FOLDER) / "DS1", folder, fs::copy_options::recursive);
    fs::create_directories(folder / "Correct" / "Default");
    std::ofstream(folder / "Correct" / "Default" / "a.dft") << "offset";
    std::ofstream(folder / "Correct" / "Default" / "a.gn") << "gain";
    ASSERT_EQ(sensorSim("plug SN-77 --usb-id U77"), 0);

    // The wrapper as the device layer sets it up: a four-tile template, the detector opened on
    // the product copy, connected, corrected and triggered.
    auto wrapper = std::make_shared<DeviceWrapper>(std::make_shared<CDetector>());
    wrapper->indices->reset(4);
    wrapper->images->setLayouts(
        {{0, 0, 10, 15, true}, {10, 0, 15, 10, false}, {0, 15, 10, 15, true}, {10, 15, 10, 15, true}});
    setStaticInstance(wrapper);
    const auto detector = wrapper->detector();
    ASSERT_EQ(detector->create(folder.generic_string(), SDKCallbackHandlerV2), 0);
    ASSERT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 10000), 0);
    ASSERT_EQ(detector->invokeAndWaitInt(fpd::kCmdCorrection, fpd::kCorrectionMode, 2000), 0);
    configureTrigger();
    EXPECT_EQ(detector->getAttrInt(fpd::kAttrTriggerMode), 6);

    // Two exposures fill tiles 0 and 1; the second lies in a landscape tile.
    ASSERT_EQ(sensorSim("expose --count 2"), 0);
    ASSERT_TRUE(waitForImages(*wrapper->images, 2));
    auto images = wrapper->images->snapshot();
    EXPECT_EQ(images[0]->pixels, inverted(sensorsim::syntheticExposure(1000, 1500, "SN-77", 1)));
    EXPECT_EQ(images[1]->pixels, inverted(sensorsim::syntheticExposure(1000, 1500, "SN-77", 2)));
    EXPECT_EQ(images[0]->width, 1000);
    EXPECT_EQ(images[0]->height, 1500);
    EXPECT_TRUE(images[0]->upright);
    EXPECT_FALSE(images[1]->upright);
    EXPECT_EQ(wrapper->indices->selected.load(), 1);

    // A retake of tile 0: the third exposure replaces it and keeps its number.
    wrapper->retaker->addRetake(0);
    ASSERT_EQ(sensorSim("expose --usb-id U77"), 0);
    testenv::eventually([&] { return wrapper->images->imageAt(0) != images[0]; }, std::chrono::seconds(120));
    const auto retaken = wrapper->images->snapshot();
    ASSERT_EQ(retaken.size(), 2u);
    EXPECT_EQ(retaken[0]->number, 1);
    EXPECT_EQ(retaken[0]->pixels, inverted(sensorsim::syntheticExposure(1000, 1500, "SN-77", 3)));
    EXPECT_EQ(retaken[1], images[1]);
    EXPECT_TRUE(wrapper->retaker->empty());
    // The 16-bit picture carries its dead strip, full scale once inverted, for the masking.
    EXPECT_EQ(retaken[0]->pixels.back(), 65535);

    DeinitV2(nullptr);
    EXPECT_EQ(wrapper->detector(), nullptr);
    setStaticInstance(nullptr);
}

} // namespace
