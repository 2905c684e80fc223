#include "device/usb_listener.h"

#include "sensor-sim/bus_usb_devices.h"
#include "support/log.h"

#include <chrono>
#include <thread>

namespace {

// The longest single wait of a listener without window before it looks at the stop request again.
constexpr std::chrono::milliseconds kWindowlessWait{200};

} // namespace

std::optional<std::string> extractUsbId(std::wstring_view path, std::wstring_view marker) {
    if (marker.empty()) {
        return std::nullopt;
    }
    const auto start = path.find(marker);
    if (start == std::wstring_view::npos) {
        return std::nullopt;
    }
    const auto end = path.rfind(L'#');
    const auto idStart = start + marker.size();
    if (end == std::wstring_view::npos || end == 0 || end < idStart) {
        return std::nullopt;
    }
    std::string id;
    id.reserve(end - idStart);
    for (auto i = idStart; i < end; ++i) {
        id.push_back(static_cast<char>(static_cast<unsigned char>(path[i] & 0xFF)));
    }
    return id;
}

std::vector<std::string> enumerateSensors() {
    std::vector<std::string> ids;
    // The sensors of the virtual bus when one is configured, else the system's.
    const auto source = sensorbus::busUsbDevicesFromEnvironment();
    for (const auto& path : platform::presentUsbDevicePaths(source.get())) {
        if (path.find(kEnumerationMarker) == std::wstring::npos) {
            continue;
        }
        if (auto id = extractUsbId(path, kEnumerationMarker)) {
            ids.push_back(std::move(*id));
        }
    }
    return ids;
}

void handleDeviceChange(const DeviceStatusHolder* holder, std::uint32_t kind,
                        const std::wstring& deviceName) {
    if (holder == nullptr || deviceName.find(kBroadcastMarker) == std::wstring::npos) {
        return;
    }
    if (kind == platform::kDeviceRemoveComplete) {
        if (holder->onRemoval) {
            holder->onRemoval();
        }
    } else if (kind == platform::kDeviceArrival) {
        if (holder->onArrival) {
            holder->onArrival(extractUsbId(deviceName, kBroadcastMarker).value_or(std::string()));
        }
    }
}

UsbListener::~UsbListener() {
    destroyWindow();
}

bool UsbListener::createWindow(DeviceStatusHolder holder) {
    holder_ = std::move(holder);
    auto window = platform::DeviceNotificationWindow::create(
        [this](std::uint32_t kind, const std::wstring& name) { handleDeviceChange(&holder_, kind, name); },
        sensorbus::busUsbDevicesFromEnvironment());
    if (!window) {
        return false;
    }
    if (!window->notificationsRegistered()) {
        writeString(kRegistrationFailedText);
    }
    std::lock_guard lock(mutex_);
    window_ = std::move(window);
    return true;
}

platform::PumpEnd UsbListener::pump(std::stop_token stop) {
    platform::DeviceNotificationWindow* window = nullptr;
    {
        std::lock_guard lock(mutex_);
        window = window_.get();
    }
    if (window != nullptr) {
        return window->pump(stop);
    }
    // Looked at, not registered for (see pauseUnlessStopped in connection_thread.cpp).
    while (!stop.stop_requested()) {
        std::this_thread::sleep_for(kWindowlessWait);
    }
    return platform::PumpEnd::stopped;
}

bool UsbListener::postClose() {
    std::lock_guard lock(mutex_);
    if (!window_) {
        return false;
    }
    window_->postClose();
    return true;
}

void UsbListener::destroyWindow() {
    std::unique_ptr<platform::DeviceNotificationWindow> window;
    {
        std::lock_guard lock(mutex_);
        window = std::move(window_);
    }
    window.reset();
    holder_ = DeviceStatusHolder{};
}

bool UsbListener::hasWindow() const {
    std::lock_guard lock(mutex_);
    return window_ != nullptr;
}
