// The USB listener on Windows: identifiers in the device-interface paths SetupAPI and the broadcasts
// give, the present-device enumeration, and device-change broadcasts sent to the message-only window
// reaching the holder's callbacks on the pumping thread.
#include "device/usb_listener.h"
#include "sensor-sim/bus.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <dbt.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

TEST(WindowsUsb, IdentifiersFromDeviceInterfacePaths) {
    struct Case {
        const wchar_t* path;
        std::wstring_view marker;
        std::optional<std::string> id;
    };
    const Case cases[] = {
        // SetupAPI's form: lower case throughout.
        {L"\\\\?\\usb#vid_1209&pid_0001#iray0042#{a5dcbf10-6530-11d2-901f-00c04fb951ed}", kEnumerationMarker,
         "0042"},
        {L"\\\\?\\usb#vid_1209&pid_0001#iray0042#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
         kBroadcastMarker,
         {}},
        // A broadcast's form: the device's own case.
        {L"\\\\?\\USB#VID_1209&PID_0001#iRayABC123#{A5DCBF10-6530-11D2-901F-00C04FB951ED}", kBroadcastMarker,
         "ABC123"},
        {L"\\\\?\\USB#VID_1209&PID_0001#iRay#{A5DCBF10-6530-11D2-901F-00C04FB951ED}", kBroadcastMarker, ""},
        // Other devices: a mouse, an interface of a composite device.
        {L"\\\\?\\HID#VID_046D&PID_C077#7&1a2b3c4&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
         kBroadcastMarker,
         {}},
        {L"\\\\?\\USB#VID_0BDA&PID_5411&MI_00#6&2f3a1b&0&0000#{A5DCBF10-6530-11D2-901F-00C04FB951ED}",
         kBroadcastMarker,
         {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(extractUsbId(c.path, c.marker), c.id) << std::string(c.path, c.path + wcslen(c.path));
    }
}

// SetupAPI's enumeration, where the machine has USB devices to list.
TEST(WindowsUsb, SystemEnumerationGivesDeviceInterfacePaths) {
    const auto paths = platform::presentUsbDevicePaths();
    if (paths.empty()) {
        GTEST_SKIP() << "SetupAPI lists no USB device on this machine (wine has none)";
    }
    for (const auto& path : paths) {
        EXPECT_EQ(path.rfind(L"\\\\?\\", 0), 0u);
        EXPECT_TRUE(path.ends_with(L"#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"));
    }
}

// The simulated bus in place of the system: the sensors plugged are enumerated, and the window
// announces one plugged after it was created and its removal.
TEST(WindowsUsb, BusSensorsAreEnumeratedAndAnnounced) {
    const sensorbus::Bus bus(testenv::busFolder());
    ASSERT_EQ(bus.plug({"Zed9", "SN2", "DS1", {}}), sensorbus::BusStatus::ok);
    ASSERT_EQ(bus.plug({"ABC123", "SN1", "DS1", {}}), sensorbus::BusStatus::ok);
    EXPECT_EQ(enumerateSensors(), (std::vector<std::string>{"abc123", "zed9"}));

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
    ASSERT_EQ(bus.plug({"NEW7", "SN7", "DS2", {}}), sensorbus::BusStatus::ok);
    std::jthread timeout([&](std::stop_token stop) {
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        if (!wake.wait_for(lock, stop, std::chrono::seconds(30), [] { return false; })) {
            listener.postClose(); // a missed broadcast fails the test instead of hanging it
        }
    });
    EXPECT_EQ(listener.pump(std::stop_source().get_token()), platform::PumpEnd::closed);
    timeout.request_stop();
    timeout.join();
    EXPECT_EQ(calls, (std::vector<std::string>{"arrival NEW7", "removal"}));
    listener.destroyWindow();
}

// A device-interface broadcast as the system builds it: the header, the class and the name.
std::vector<unsigned char> interfaceBroadcast(const std::wstring& name,
                                              DWORD deviceType = DBT_DEVTYP_DEVICEINTERFACE) {
    std::vector<unsigned char> bytes(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) + name.size() * sizeof(wchar_t),
                                     0);
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    broadcast->dbcc_size = static_cast<DWORD>(bytes.size());
    broadcast->dbcc_devicetype = deviceType;
    std::copy(name.begin(), name.end(), broadcast->dbcc_name);
    return bytes;
}

// By class: the window procedure answers WM_NCCREATE itself, so the title never reaches the window.
HWND findListenerWindow() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"DUMMY_CLASS", nullptr)) {
            return window;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return nullptr;
}

struct Seen {
    std::mutex mutex;
    std::vector<std::string> arrivals; // guarded by mutex
    int removals = 0;                  // guarded by mutex
    std::thread::id thread;            // guarded by mutex: the thread the callbacks ran on
};

TEST(WindowsUsb, BroadcastsReachTheHolderOnThePumpingThread) {
    Seen seen;
    UsbListener listener;
    std::promise<std::thread::id> pumpThread;
    std::promise<platform::PumpEnd> ended;
    std::jthread connection([&](std::stop_token stop) {
        DeviceStatusHolder holder;
        holder.onArrival = [&seen](const std::string& id) {
            std::lock_guard lock(seen.mutex);
            seen.arrivals.push_back(id);
            seen.thread = std::this_thread::get_id();
        };
        holder.onRemoval = [&seen] {
            std::lock_guard lock(seen.mutex);
            ++seen.removals;
            seen.thread = std::this_thread::get_id();
        };
        if (!listener.createWindow(std::move(holder))) {
            pumpThread.set_value({});
            ended.set_value(platform::PumpEnd::failed);
            return;
        }
        pumpThread.set_value(std::this_thread::get_id());
        ended.set_value(listener.pump(stop));
        listener.destroyWindow();
    });
    const auto pumping = pumpThread.get_future().get();
    ASSERT_NE(pumping, std::thread::id{});
    HWND window = findListenerWindow();
    ASSERT_NE(window, nullptr);

    const std::wstring sensor =
        L"\\\\?\\USB#VID_1209&PID_0001#iRaySN77#{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
    const std::wstring mouse =
        L"\\\\?\\HID#VID_046D&PID_C077#7&1a2b3c4&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    struct Send {
        WPARAM kind;
        std::vector<unsigned char> broadcast;
    };
    const Send sends[] = {
        {DBT_DEVICEARRIVAL, interfaceBroadcast(sensor)},
        {DBT_DEVICEARRIVAL, interfaceBroadcast(mouse)},
        {DBT_DEVICEARRIVAL, interfaceBroadcast(sensor, DBT_DEVTYP_VOLUME)},
        {DBT_DEVICEQUERYREMOVE, interfaceBroadcast(sensor)},
        {DBT_DEVICEREMOVECOMPLETE, interfaceBroadcast(mouse)},
        {DBT_DEVICEREMOVECOMPLETE, interfaceBroadcast(sensor)},
    };
    for (const auto& send : sends) {
        // Sent across threads: returns once the pumping thread has handled it.
        EXPECT_EQ(
            SendMessageW(window, WM_DEVICECHANGE, send.kind, reinterpret_cast<LPARAM>(send.broadcast.data())),
            0);
    }
    {
        std::lock_guard lock(seen.mutex);
        EXPECT_EQ(seen.arrivals, std::vector<std::string>{"SN77"});
        EXPECT_EQ(seen.removals, 1);
        EXPECT_EQ(seen.thread, pumping);
    }

    EXPECT_TRUE(listener.postClose());
    auto end = ended.get_future();
    ASSERT_EQ(end.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(end.get(), platform::PumpEnd::closed);
    connection.join();
    EXPECT_EQ(FindWindowExW(HWND_MESSAGE, nullptr, L"DUMMY_CLASS", nullptr), nullptr);
}

TEST(WindowsUsb, StopRequestEndsThePump) {
    std::promise<platform::PumpEnd> ended;
    std::jthread connection([&](std::stop_token stop) {
        UsbListener listener;
        if (!listener.createWindow({})) {
            ended.set_value(platform::PumpEnd::failed);
            return;
        }
        ended.set_value(listener.pump(stop));
    });
    ASSERT_NE(findListenerWindow(), nullptr);
    const auto start = std::chrono::steady_clock::now();
    connection.request_stop();
    auto end = ended.get_future();
    ASSERT_EQ(end.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(end.get(), platform::PumpEnd::stopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

} // namespace
