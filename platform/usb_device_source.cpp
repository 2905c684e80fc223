#include "platform/usb_device_source.h"

#include <algorithm>

namespace platform {

namespace {

std::map<std::wstring, std::string> devicesByPath(const UsbDeviceSource& source) {
    std::map<std::wstring, std::string> devices;
    for (auto& device : source.presentDevices()) {
        devices.emplace(std::move(device.path), std::move(device.details));
    }
    return devices;
}

} // namespace

std::vector<std::wstring> lowerCaseDevicePaths(const UsbDeviceSource& source) {
    std::vector<std::wstring> paths;
    for (const auto& device : source.presentDevices()) {
        paths.push_back(lowerCaseUsbPath(device.path));
    }
    return paths;
}

PolledUsbDevices::PolledUsbDevices(std::shared_ptr<const UsbDeviceSource> source)
    : source_(std::move(source)), known_(devicesByPath(*source_)),
      nextLook_(Clock::now() + source_->lookInterval()) {}

int PolledUsbDevices::millisecondsToNextLook(int longest) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(nextLook_ - Clock::now()).count();
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left, 0, longest));
}

void PolledUsbDevices::lookIfDue(const DeviceNotificationWindow::Procedure& procedure) {
    if (Clock::now() < nextLook_ || !procedure) {
        return;
    }
    auto now = devicesByPath(*source_);
    for (const auto& [path, details] : known_) {
        const auto found = now.find(path);
        if (found == now.end() || found->second != details) {
            procedure(kDeviceRemoveComplete, path);
        }
    }
    for (const auto& [path, details] : now) {
        const auto found = known_.find(path);
        if (found == known_.end() || found->second != details) {
            procedure(kDeviceArrival, path);
        }
    }
    known_ = std::move(now);
    nextLook_ = Clock::now() + source_->lookInterval();
}

} // namespace platform
