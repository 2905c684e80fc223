// The virtual sensor bus as the USB devices of a machine: the source the device layer plugs into the
// platform's USB service in place of the system when $OSTRA_SENSOR_BUS names a bus. Each plugged
// sensor is a device of the pid.codes test vendor and product whose USB serial string is "iRay"
// followed by its USB identifier; entries appearing and disappearing are arrivals and removals.
#pragma once

#include "platform/usb_devices.h"
#include "sensor-sim/bus.h"

#include <chrono>
#include <memory>
#include <vector>

namespace sensorbus {

// How often a pump looks at the bus folder.
inline constexpr std::chrono::milliseconds kBusLookInterval{50};

class BusUsbDevices final : public platform::UsbDeviceSource {
public:
    explicit BusUsbDevices(Bus bus) : bus_(std::move(bus)) {}

    // Ordered by USB identifier; a sensor's details are its whole entry, so that another sensor
    // plugged under the same identifier between two looks is a removal and an arrival.
    std::vector<platform::UsbDeviceEntry> presentDevices() const override;
    std::chrono::milliseconds lookInterval() const override { return kBusLookInterval; }

    // The interface path of a bus sensor, in the device's own case.
    static std::wstring devicePath(const SensorEntry& sensor);

private:
    Bus bus_;
};

// The bus named by $OSTRA_SENSOR_BUS as a device source; null when the variable is unset or empty
// (the system's devices are the sensors then).
std::shared_ptr<const platform::UsbDeviceSource> busUsbDevicesFromEnvironment();

} // namespace sensorbus
