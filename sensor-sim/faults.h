// Faults of the simulated detector, set on the sensor bus so that the sensor-sim command, tests and
// every process's simulator share them. The bus folder's file "faults" holds one line per fault:
// its name and arguments separated by single spaces. Like a sensor entry it is written to a
// temporary name and renamed. A fault stays until it is cleared, except unplug-in-exposure, which
// the exposure it cuts short uses up.
//
//   fail STEP CODE       STEP answers the SDK code CODE (100 to 999): Create returns it, a command
//                        reports it as its failed end
//   late STEP MS         the end of the command STEP comes MS milliseconds late (1 to 600000)
//   duplicate-events     every event is reported twice
//   event-after-destroy  a destroyed detector reports the end of a connect once more, shortly after
//                        Destroy has returned
//   frame-size W H       frames arrive as W x H pixels (0 to 4096 each) whatever the product's size
//   unplug-in-exposure   the next exposure starts, then its sensor is pulled out before the frame
//
// STEP is create (fail only), connect, correction, write-params or start. A fault set again replaces
// the one of the same name (and step).
#pragma once

#include "sensor-sim/bus.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sensorbus {

struct Fault {
    std::string name;
    std::vector<std::string> args;

    // What a fault set again replaces: the name, and the step of fail and late.
    std::string key() const;
    std::string text() const;
    bool operator==(const Fault&) const = default;
};

// The fault a command line's words name, or a text saying what is wrong with them.
std::optional<Fault> parseFault(const std::vector<std::string>& words, std::string& error);

// The faults set on a bus folder. Malformed lines are skipped.
class Faults {
public:
    static Faults of(const Bus& bus);
    // Those of $OSTRA_SENSOR_BUS; none without a bus.
    static Faults fromEnvironment();

    const std::vector<Fault>& all() const { return faults_; }
    bool has(std::string_view name) const;
    std::optional<int> failCode(std::string_view step) const;
    std::optional<int> lateMs(std::string_view step) const;
    std::optional<std::pair<int, int>> frameSize() const;

private:
    const Fault* find(std::string_view key) const;
    std::vector<Fault> faults_;
};

// Sets a fault (replacing one of the same key); ioFailure when the folder cannot be written.
BusStatus setFault(const Bus& bus, const Fault& fault);
// Clears the fault of that key, or every fault for an empty key; ok also when none was set.
BusStatus clearFaults(const Bus& bus, std::string_view key = {});

} // namespace sensorbus
