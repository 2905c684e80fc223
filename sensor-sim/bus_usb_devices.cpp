#include "sensor-sim/bus_usb_devices.h"

#include <cstdint>
#include <string>

namespace sensorbus {

namespace {

// The identifiers a bus sensor shows on the USB: the pid.codes test vendor and product.
constexpr std::uint16_t kBusVendorId = 0x1209;
constexpr std::uint16_t kBusProductId = 0x0001;
// A bus sensor's USB serial string is this marker followed by its USB identifier.
constexpr std::wstring_view kBusSerialMarker = L"iRay";

} // namespace

std::wstring BusUsbDevices::devicePath(const SensorEntry& sensor) {
    return platform::usbDevicePath(kBusVendorId, kBusProductId,
                                   std::wstring(kBusSerialMarker) + platform::widenedUsbText(sensor.usbId));
}

std::vector<platform::UsbDeviceEntry> BusUsbDevices::presentDevices() const {
    std::vector<platform::UsbDeviceEntry> devices;
    for (const auto& sensor : bus_.sensors()) {
        std::string details = sensor.serial + '\n' + sensor.product + '\n' +
                              (sensor.triggerMode ? std::to_string(*sensor.triggerMode) : std::string()) +
                              '\n' + (sensor.plainFrames ? "plain" : "");
        devices.push_back({devicePath(sensor), std::move(details)});
    }
    return devices;
}

std::shared_ptr<const platform::UsbDeviceSource> busUsbDevicesFromEnvironment() {
    if (auto bus = Bus::fromEnvironment()) {
        return std::make_shared<BusUsbDevices>(std::move(*bus));
    }
    return nullptr;
}

} // namespace sensorbus
