// The platform layer's own handling of a plugged-in UsbDeviceSource, shared by the Windows and the
// Linux notification windows: its paths in the enumeration's form, and the broadcasts for what came
// and went between two looks.
#pragma once

#include "platform/usb_devices.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The source's device paths in lower case, as the system's enumeration gives them.
std::vector<std::wstring> lowerCaseDevicePaths(const UsbDeviceSource& source);

// Watches a source on behalf of one pump (its thread only).
class PolledUsbDevices {
public:
    // Takes the devices present now as known: they are not announced.
    explicit PolledUsbDevices(std::shared_ptr<const UsbDeviceSource> source);

    // Milliseconds until the next look is due (0 when it is due now), at most `longest`.
    int millisecondsToNextLook(int longest) const;
    // When a look is due: removals of the devices gone or changed, then arrivals of those new or
    // changed, each through `procedure`.
    void lookIfDue(const DeviceNotificationWindow::Procedure& procedure);

private:
    using Clock = std::chrono::steady_clock;
    std::shared_ptr<const UsbDeviceSource> source_;
    std::map<std::wstring, std::string> known_; // details by path
    Clock::time_point nextLook_;
};

} // namespace platform
