// The USB side of the sensor connection: which sensors are plugged in (enumerateSensors), the USB
// identifier in a device-interface path (extractUsbId), and the hidden notification window whose
// device-change broadcasts reach the connection thread's arrival and removal callbacks.
#pragma once

#include "platform/usb_devices.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

// The sensor's marker in a device-interface path. The enumeration hands out paths in lower case and
// the broadcasts in the device's own case, so each has its marker; both match case-sensitively.
inline constexpr std::wstring_view kBroadcastMarker = L"iRay";
inline constexpr std::wstring_view kEnumerationMarker = L"iray";

// The text between the first `marker` and the path's last "#", narrowed by taking each character's
// low byte; it may be empty. No value when the marker is missing or no "#" follows it.
std::optional<std::string> extractUsbId(std::wstring_view path, std::wstring_view marker);

// USB identifiers of the sensors plugged in now, in the system's order (lower case).
std::vector<std::string> enumerateSensors();

// The two callbacks the broadcasts reach: a sensor arrived (its USB identifier, possibly empty), a
// sensor was removed.
struct DeviceStatusHolder {
    std::function<void(const std::string&)> onArrival;
    std::function<void()> onRemoval;
};

// The handling of one device-change broadcast: a removal or an arrival of a device whose name
// carries "iRay" goes to the holder; everything else is ignored.
void handleDeviceChange(const DeviceStatusHolder* holder, std::uint32_t kind, const std::wstring& deviceName);

// Text the listener logs when its window cannot sign up for device notifications.
inline constexpr const char* kRegistrationFailedText = "Could not register for devicenotifications!";

// The notification window of one connection thread. That thread creates, pumps and destroys the
// window; the holder it publishes with the window is read and replaced only on that thread. Other
// threads only post a close (stop).
class UsbListener {
public:
    UsbListener() = default;
    ~UsbListener();
    UsbListener(const UsbListener&) = delete;
    UsbListener& operator=(const UsbListener&) = delete;

    // Publishes the holder and creates the window on the calling thread. False when the window
    // cannot be created (no broadcast is seen then). A window that could not sign up for
    // notifications is kept, so that it can be closed, and the failure is logged.
    bool createWindow(DeviceStatusHolder holder);

    // Delivers the broadcasts to the holder until a close is posted or a stop is requested. Without
    // a window it only waits, in bounded steps, for the stop request.
    platform::PumpEnd pump(std::stop_token stop);

    // Posts a close to the window, if there is one. Any thread.
    bool postClose();

    // Destroys the window and clears the published holder.
    void destroyWindow();

    bool hasWindow() const;

private:
    // mutex_ guards the window pointer against postClose and hasWindow from other threads; the window
    // itself is created, pumped and destroyed by the connection thread only, which uses it unlocked
    // while pumping (it alone can reset the pointer).
    mutable std::mutex mutex_;
    std::unique_ptr<platform::DeviceNotificationWindow> window_;
    // Connection thread only.
    DeviceStatusHolder holder_;
};
