// USB devices: the device interfaces present now, and a hidden notification window that receives the
// system's device-change broadcasts for them on the thread that pumps it.
//
// Device interfaces are named by their Windows device-interface paths on every system:
//   \\?\USB#VID_xxxx&PID_xxxx#<serial>#{A5DCBF10-6530-11D2-901F-00C04FB951ED}
// The enumeration gives them in lower case (as SetupAPI does); the broadcasts give them in the
// device's own case (as WM_DEVICECHANGE does).
//
//   Windows: SetupAPI enumeration; a message-only window registered for device notifications.
//   Linux:   libudev enumeration and monitor of "usb_device" devices.
// A higher layer may plug in a UsbDeviceSource of its own (a bus of simulated sensors) in place of
// the system: its devices are then the present ones, and those that come and go between two looks
// at it are the arrival and removal broadcasts.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The USB device interface class: the notification filter and the enumeration both use it.
inline constexpr std::wstring_view kUsbDeviceInterfaceClass = L"{A5DCBF10-6530-11D2-901F-00C04FB951ED}";

// The broadcasts the window passes on (the wParam values of WM_DEVICECHANGE).
inline constexpr std::uint32_t kDeviceArrival = 0x8000;
inline constexpr std::uint32_t kDeviceRemoveComplete = 0x8004;

// One device of a UsbDeviceSource.
struct UsbDeviceEntry {
    std::wstring path;   // its interface path, in the device's own case
    std::string details; // whatever tells this device from another one at the same path later
    bool operator==(const UsbDeviceEntry&) const = default;
};

// USB devices that stand in for the system's. Asked from the enumerating thread and from the thread
// that pumps a notification window; an implementation answers from any thread.
class UsbDeviceSource {
public:
    virtual ~UsbDeviceSource() = default;
    // The devices present now.
    virtual std::vector<UsbDeviceEntry> presentDevices() const = 0;
    // How long a pump waits between two looks at presentDevices.
    virtual std::chrono::milliseconds lookInterval() const = 0;
};

// The paths of the USB device interfaces present now, in lower case: the system's, or the source's
// when one is given. Empty when the system cannot be asked; a device whose details cannot be read is
// left out.
std::vector<std::wstring> presentUsbDevicePaths(const UsbDeviceSource* source = nullptr);

// The path of a USB device interface, in the device's own case (the form of a broadcast).
std::wstring usbDevicePath(std::uint16_t vendorId, std::uint16_t productId, std::wstring_view serial);

// A USB string descriptor's bytes (Latin-1) as the wide text of a device path.
std::wstring widenedUsbText(std::string_view text);
// A device path with its ASCII letters in lower case, as the system's enumeration compares them.
std::wstring lowerCaseUsbPath(std::wstring path);

// How a pump ended.
enum class PumpEnd {
    closed,  // a close was posted to the window
    stopped, // the stop token asked for it
    failed,  // the system reported an error while waiting
};

// A hidden window receiving the device-change broadcasts of USB device interfaces. It belongs to the
// thread that creates it: only that thread pumps and destroys it. postClose may be called from any
// thread while the window exists.
class DeviceNotificationWindow {
public:
    // Called on the pumping thread for every broadcast: its kind (kDeviceArrival,
    // kDeviceRemoveComplete or another value) and the device's interface path.
    using Procedure = std::function<void(std::uint32_t kind, const std::wstring& deviceName)>;

    // Creates the window on the calling thread. Null when the window cannot be created. A window
    // that could not sign up for device notifications is still created (it can be pumped and
    // closed) and tells so through notificationsRegistered. With a source, the broadcasts come from
    // it instead of the system: devices present at creation are not announced (no broadcast
    // announces them), and a device whose details changed between two looks is a removal followed
    // by an arrival.
    static std::unique_ptr<DeviceNotificationWindow>
    create(Procedure procedure, std::shared_ptr<const UsbDeviceSource> source = {});

    // Destroys the window and unregisters its class.
    ~DeviceNotificationWindow();
    DeviceNotificationWindow(const DeviceNotificationWindow&) = delete;
    DeviceNotificationWindow& operator=(const DeviceNotificationWindow&) = delete;

    bool notificationsRegistered() const;

    // Posts a close message (WM_CLOSE): the pump ends when it reaches it. Any thread.
    void postClose();

    // Delivers broadcasts to the procedure until a close is posted or a stop is requested; every
    // wait inside is bounded, and a stop request wakes it at once.
    PumpEnd pump(std::stop_token stop);

    struct State;

private:
    explicit DeviceNotificationWindow(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

} // namespace platform
