// USB identifiers in device-interface paths, the two markers, the broadcast handling, the enumeration
// and the notification window on the virtual sensor bus.
#include "device/usb_listener.h"
#include "sensor-sim/bus.h"
#include "sensor-sim/bus_usb_devices.h"
#include "tests/common/test_env.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const std::wstring kGuid(platform::kUsbDeviceInterfaceClass);
const std::wstring kGuidLower = L"{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

struct IdCase {
    std::wstring path;
    std::wstring_view marker;
    std::optional<std::string> id;
};

TEST(ExtractUsbId, Table) {
    const IdCase cases[] = {
        {L"\\\\?\\USB#VID_1209&PID_0001#iRayABC123#" + kGuid, kBroadcastMarker, "ABC123"},
        {L"\\\\?\\USB#VID_1209&PID_0001#iRay#" + kGuid, kBroadcastMarker, ""},
        {L"\\\\?\\usb#vid_1209&pid_0001#irayabc123#" + kGuidLower, kEnumerationMarker, "abc123"},
        // Each marker in its own case only.
        {L"\\\\?\\usb#vid_1209&pid_0001#irayabc123#" + kGuidLower, kBroadcastMarker, std::nullopt},
        {L"\\\\?\\USB#VID_1209&PID_0001#iRayABC123#" + kGuid, kEnumerationMarker, std::nullopt},
        // The text runs to the last "#"; none after the marker, or one only at the start: no value.
        {L"x#iRayA#B#C", kBroadcastMarker, "A#B"},
        {L"USB#VID_1209#iRayABC", kBroadcastMarker, std::nullopt},
        {L"iRayABC", kBroadcastMarker, std::nullopt},
        {L"#iRayABC", kBroadcastMarker, std::nullopt},
        {L"", kBroadcastMarker, std::nullopt},
        {L"\\\\?\\USB#VID_046D&PID_C077#5&1234&0&1#" + kGuid, kBroadcastMarker, std::nullopt},
        // Narrowed by low bytes.
        {L"#iRay\u0141Z#", kBroadcastMarker, "AZ"},
        // The first marker counts.
        {L"#iRayA-iRayB#", kBroadcastMarker, "A-iRayB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(extractUsbId(c.path, c.marker), c.id) << std::string(c.path.begin(), c.path.end());
    }
}

struct BroadcastCase {
    std::uint32_t kind;
    std::wstring name;
    std::vector<std::string> calls;
};

TEST(DeviceChange, Table) {
    const std::wstring sensor = L"\\\\?\\USB#VID_1209&PID_0001#iRayABC123#" + kGuid;
    const std::wstring mouse = L"\\\\?\\USB#VID_046D&PID_C077#5&1234&0&1#" + kGuid;
    const BroadcastCase cases[] = {
        {platform::kDeviceArrival, sensor, {"arrival ABC123"}},
        {platform::kDeviceArrival, L"\\\\?\\USB#VID_1209&PID_0001#iRay#" + kGuid, {"arrival "}},
        {platform::kDeviceArrival, L"\\\\?\\USB#VID_1209&PID_0001#iRayABC", {"arrival "}},
        {platform::kDeviceRemoveComplete, sensor, {"removal"}},
        {platform::kDeviceArrival, L"\\\\?\\usb#vid_1209&pid_0001#irayabc123#" + kGuidLower, {}},
        {platform::kDeviceArrival, mouse, {}},
        {platform::kDeviceRemoveComplete, mouse, {}},
        {0x8001, sensor, {}}, // query remove
        {0x0007, sensor, {}}, // nodes changed
    };
    for (const auto& c : cases) {
        std::vector<std::string> calls;
        const DeviceStatusHolder holder{[&calls](const std::string& id) { calls.push_back("arrival " + id); },
                                        [&calls] { calls.push_back("removal"); }};
        handleDeviceChange(&holder, c.kind, c.name);
        EXPECT_EQ(calls, c.calls) << std::string(c.name.begin(), c.name.end()) << " " << c.kind;
    }
    // Nothing published, or nothing bound: ignored.
    handleDeviceChange(nullptr, platform::kDeviceArrival, sensor);
    const DeviceStatusHolder empty;
    handleDeviceChange(&empty, platform::kDeviceArrival, sensor);
    handleDeviceChange(&empty, platform::kDeviceRemoveComplete, sensor);
}

class OnBus : public testing::Test {
protected:
    void SetUp() override { appfiles::startLog(); }
    void plug(const std::string& usbId, const std::string& serial) {
        ASSERT_EQ(bus.plug({usbId, serial, "DS1", {}}), sensorbus::BusStatus::ok);
    }
    sensorbus::Bus bus{testenv::busFolder()};
};

TEST_F(OnBus, EnumerationListsSensorsInLowerCase) {
    EXPECT_TRUE(enumerateSensors().empty());
    plug("Zed9", "SN2");
    plug("ABC123", "SN1");
    EXPECT_EQ(enumerateSensors(), (std::vector<std::string>{"abc123", "zed9"}));
    const auto source = sensorbus::busUsbDevicesFromEnvironment();
    ASSERT_TRUE(source);
    EXPECT_EQ(platform::presentUsbDevicePaths(source.get()).front(),
              L"\\\\?\\usb#vid_1209&pid_0001#irayabc123#" + kGuidLower);
}

TEST_F(OnBus, WindowBroadcastsArrivalAndRemovalUntilClosed) {
    plug("OLD1", "SN0"); // present before the window: not announced
    UsbListener listener;
    std::vector<std::string> calls;
    ASSERT_TRUE(listener.createWindow(DeviceStatusHolder{[&](const std::string& id) {
                                                             calls.push_back("arrival " + id);
                                                             bus.unplug(id);
                                                         },
                                                         [&] {
                                                             calls.push_back("removal");
                                                             listener.postClose();
                                                         }}));
    EXPECT_TRUE(listener.hasWindow());
    plug("ABC123", "SN1");
    std::stop_source stop;
    EXPECT_EQ(listener.pump(stop.get_token()), platform::PumpEnd::closed);
    EXPECT_EQ(calls, (std::vector<std::string>{"arrival ABC123", "removal"}));

    listener.destroyWindow();
    EXPECT_FALSE(listener.hasWindow());
    EXPECT_FALSE(listener.postClose());
}

TEST_F(OnBus, ReplacedEntryIsRemovalThenArrival) {
    plug("U1", "SN1");
    std::vector<std::pair<std::uint32_t, std::wstring>> seen;
    std::unique_ptr<platform::DeviceNotificationWindow> window;
    window = platform::DeviceNotificationWindow::create(
        [&](std::uint32_t kind, const std::wstring& name) {
            seen.emplace_back(kind, name);
            if (kind == platform::kDeviceArrival) {
                window->postClose();
            }
        },
        sensorbus::busUsbDevicesFromEnvironment());
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->notificationsRegistered());
    ASSERT_EQ(bus.unplug("U1"), sensorbus::BusStatus::ok);
    plug("U1", "SN9");
    EXPECT_EQ(window->pump(std::stop_source().get_token()), platform::PumpEnd::closed);
    const std::wstring path = platform::usbDevicePath(0x1209, 0x0001, L"iRayU1");
    EXPECT_EQ(seen, (std::vector<std::pair<std::uint32_t, std::wstring>>{
                        {platform::kDeviceRemoveComplete, path}, {platform::kDeviceArrival, path}}));
}

TEST_F(OnBus, StopRequestEndsThePump) {
    UsbListener listener;
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(listener.pump(stop.get_token()), platform::PumpEnd::stopped) << "without window";
    ASSERT_TRUE(listener.createWindow({}));
    EXPECT_EQ(listener.pump(stop.get_token()), platform::PumpEnd::stopped) << "with window";
}

// The system's own enumeration, where this machine has USB devices to list.
TEST(UsbSystem, PathsHaveTheDeviceInterfaceForm) {
    unsetenv(sensorbus::kBusVariable);
    const auto paths = platform::presentUsbDevicePaths();
    if (paths.empty()) {
        GTEST_SKIP() << "this machine lists no USB device (a container or a machine without USB)";
    }
    for (const auto& path : paths) {
        EXPECT_EQ(path.rfind(L"\\\\?\\usb#vid_", 0), 0u);
        EXPECT_TRUE(path.ends_with(L"#" + kGuidLower));
    }
}

// Without sensors of ours on this machine's USB; a window that could not sign up for the system's
// notifications says so and still closes.
TEST(UsbSystem, WindowOnTheSystemCloses) {
    unsetenv(sensorbus::kBusVariable);
    appfiles::startLog();
    UsbListener listener;
    ASSERT_TRUE(listener.createWindow({}));
    ASSERT_TRUE(listener.postClose());
    EXPECT_EQ(listener.pump(std::stop_source().get_token()), platform::PumpEnd::closed);
    EXPECT_EQ(platform::usbDevicePath(0x46d, 0xc077, L"5&1234"),
              L"\\\\?\\USB#VID_046D&PID_C077#5&1234#" + kGuid);
}

} // namespace
