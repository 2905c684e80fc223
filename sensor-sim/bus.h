// The virtual sensor bus: a folder, named by $OSTRA_SENSOR_BUS, that stands for the USB sensors
// plugged into the machine. It is shared, across processes, by the sensor-sim command, the FpdSys
// simulator and the device layer's USB service.
//
// Layout of the folder:
//   <usb-id>.sensor     one entry per plugged sensor, "key=value" lines:
//                           usb_id=<usb-id>
//                           serial=<serial number>
//                           product=DS1|DS2
//                           trigger_mode=<n>        (optional: the sensor reports this trigger mode
//                                                    whatever mode is written to it)
//                       Written to a temporary name first and renamed, so a reader never sees half
//                       an entry. Removed on unplug.
//   <usb-id>.exposures  the exposure requests for that sensor: two bytes ("1\n") per request,
//                       appended; the k-th request (from 1) is exposure number k. Removed on unplug.
// Files whose names start with "." are temporary and ignored.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sensorbus {

inline constexpr const char* kBusVariable = "OSTRA_SENSOR_BUS";

struct SensorEntry {
    std::string usbId;
    std::string serial;
    std::string product;
    std::optional<int> triggerMode;
    // Plain frames: a ramp that costs next to nothing to compute, instead of the radiograph, for
    // runs of many exposures.
    bool plainFrames = false;

    bool operator==(const SensorEntry&) const = default;
};

enum class BusStatus {
    ok,
    badUsbId,       // not 1 to 64 of A-Z a-z 0-9 . _ -, or starts with "."
    badSerial,      // same rule
    unknownProduct, // not DS1 or DS2
    badTriggerMode, // outside 0 to 255
    usbIdInUse,     // a sensor with that USB identifier is plugged already
    serialInUse,    // a sensor with that serial number is plugged already
    notPlugged,     // no sensor with that USB identifier
    badCount,       // exposure count outside 1 to kMaxExposureRequest
    ioFailure,      // the bus folder could not be written
};

inline constexpr int kMaxExposureRequest = 1000;

// A text for the status, naming the value concerned ("no sensor with USB identifier X is plugged").
std::string describe(BusStatus status, std::string_view subject = {});

// USB identifiers and serial numbers become file and folder names; only plain names are taken.
bool validIdentifier(std::string_view text);

// A USB identifier derived from a serial number: eight upper-case hexadecimal digits.
std::string defaultUsbId(std::string_view serial);

class Bus {
public:
    explicit Bus(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // The bus named by $OSTRA_SENSOR_BUS; empty when the variable is unset or empty.
    static std::optional<Bus> fromEnvironment();

    const std::filesystem::path& folder() const { return folder_; }

    // Plugged sensors, ordered by USB identifier; malformed entries are skipped.
    std::vector<SensorEntry> sensors() const;
    std::optional<SensorEntry> sensor(std::string_view usbId) const;

    // Creates the folder when needed. The sensor's exposure count starts again at 0.
    BusStatus plug(const SensorEntry& entry) const;
    BusStatus unplug(std::string_view usbId) const;

    // Adds `count` exposure requests for a plugged sensor.
    BusStatus requestExposures(std::string_view usbId, int count) const;

    // Number of exposure requests made since the sensor was plugged (0 when none or not plugged).
    std::uint64_t exposureCount(std::string_view usbId) const;

    std::filesystem::path entryFile(std::string_view usbId) const;
    std::filesystem::path exposureFile(std::string_view usbId) const;

private:
    std::filesystem::path folder_;
};

} // namespace sensorbus
