#include "sensor-sim/command.h"

#include "sensor-sim/bus.h"
#include "sensor-sim/corrections.h"
#include "sensor-sim/faults.h"

#include <charconv>
#include <optional>

namespace sensorsim {

namespace {

constexpr const char* kUsage = R"(usage: sensor-sim [--bus FOLDER] COMMAND [ARGUMENTS]

commands:
  plug SERIAL [--product DS1|DS2] [--usb-id ID] [--trigger-mode N] [--frames plain]
                     plug a sensor (product DS1 unless given; the USB identifier
                     is derived from the serial number unless given; with
                     --trigger-mode the sensor always reports trigger mode N;
                     with --frames plain its exposures are a plain ramp, quick
                     to compute, instead of a radiograph);
                     writes the sensor's own correction files (its calibration
                     disk) into the bus folder's corrections/SERIAL
  unplug ID          pull out the sensor with that USB identifier (or serial number)
  expose [--count N] [--usb-id ID]
                     fire N exposures (1 unless given) at the sensor with that USB
                     identifier, or at every plugged sensor
  list               print the plugged sensors: USB identifier, serial number, product,
                     trigger mode when fixed, frames=plain when so, and corrections=FOLDER, the folder
                     of the sensor's correction files
  fault [NAME [ARGUMENTS]]
                     make every simulated detector on the bus misbehave (the fault
                     stays until cleared); without NAME, print the faults set:
      fail STEP CODE       STEP answers SDK code CODE (100 to 999)
      late STEP MS         the end of command STEP comes MS milliseconds late
                           (past the driver's time-out when long enough)
      duplicate-events     every event is reported twice
      event-after-destroy  a destroyed detector reports one more event after
                           Destroy has returned
      frame-size W H       frames arrive as W x H pixels (0 to 4096 each)
      unplug-in-exposure   the next exposure starts, then its sensor is pulled
                           out before the frame (used up by that exposure)
                     STEP: create (fail only), connect, correction, write-params,
                     start
  fault clear [NAME [STEP]]
                     clear that fault, or every fault

The bus folder is FOLDER, else $OSTRA_SENSOR_BUS.
)";

class UsageError {
public:
    explicit UsageError(std::string message) : message(std::move(message)) {}
    std::string message;
};

std::optional<int> parseInt(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// Arguments after the command word: options with a value, and plain words.
struct Arguments {
    std::vector<std::string> words;
    std::vector<std::pair<std::string, std::string>> options;

    std::optional<std::string> option(const std::string& name) const {
        std::optional<std::string> value;
        for (const auto& [key, v] : options) {
            if (key == name) {
                if (value) {
                    throw UsageError("option " + name + " given twice");
                }
                value = v;
            }
        }
        return value;
    }
};

Arguments split(const std::vector<std::string>& args, std::size_t from,
                std::initializer_list<const char*> allowed) {
    Arguments parsed;
    for (std::size_t i = from; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            bool known = false;
            for (const char* name : allowed) {
                known = known || arg == name;
            }
            if (!known) {
                throw UsageError("unknown option " + arg + " for " + args[from - 1]);
            }
            if (i + 1 >= args.size()) {
                throw UsageError("option " + arg + " needs a value");
            }
            parsed.options.emplace_back(arg, args[++i]);
        } else {
            parsed.words.push_back(arg);
        }
    }
    return parsed;
}

int refused(std::ostream& err, sensorbus::BusStatus status, const std::string& subject) {
    err << "sensor-sim: " << sensorbus::describe(status, subject) << '\n';
    return status == sensorbus::BusStatus::ioFailure || status == sensorbus::BusStatus::notPlugged ||
                   status == sensorbus::BusStatus::usbIdInUse || status == sensorbus::BusStatus::serialInUse
               ? kExitFailed
               : kExitUsage;
}

int plug(const sensorbus::Bus& bus, const Arguments& a, std::ostream& out, std::ostream& err) {
    if (a.words.size() != 1) {
        throw UsageError(a.words.empty() ? "plug needs a serial number" : "plug takes one serial number");
    }
    sensorbus::SensorEntry entry;
    entry.serial = a.words[0];
    if (!sensorbus::validIdentifier(entry.serial)) {
        return refused(err, sensorbus::BusStatus::badSerial, entry.serial);
    }
    entry.product = a.option("--product").value_or("DS1");
    entry.usbId = a.option("--usb-id").value_or(sensorbus::defaultUsbId(entry.serial));
    if (auto mode = a.option("--trigger-mode")) {
        entry.triggerMode = parseInt(*mode);
        if (!entry.triggerMode) {
            return refused(err, sensorbus::BusStatus::badTriggerMode, *mode);
        }
    }
    if (auto frames = a.option("--frames")) {
        if (*frames != "plain" && *frames != "radiograph") {
            throw UsageError("--frames takes plain or radiograph, not \"" + *frames + "\"");
        }
        entry.plainFrames = *frames == "plain";
    }
    const auto status = bus.plug(entry);
    if (status == sensorbus::BusStatus::ok) {
        // The calibration disk that comes with the sensor.
        const auto corrections = sensorbus::correctionsFolder(bus.folder(), entry.serial);
        if (!sensorbus::writeCorrectionFiles(corrections, entry.serial)) {
            bus.unplug(entry.usbId);
            return refused(err, sensorbus::BusStatus::ioFailure, corrections.string());
        }
    } else {
        const std::string subject =
            status == sensorbus::BusStatus::badUsbId || status == sensorbus::BusStatus::usbIdInUse
                ? entry.usbId
            : status == sensorbus::BusStatus::unknownProduct ? entry.product
            : status == sensorbus::BusStatus::badTriggerMode ? std::to_string(entry.triggerMode.value_or(0))
            : status == sensorbus::BusStatus::ioFailure      ? bus.folder().string()
                                                             : entry.serial;
        return refused(err, status, subject);
    }
    out << "plugged " << entry.serial << " (" << entry.product << ") as USB identifier " << entry.usbId
        << '\n';
    return kExitOk;
}

int unplug(const sensorbus::Bus& bus, const Arguments& a, std::ostream& out, std::ostream& err) {
    if (a.words.size() != 1) {
        throw UsageError(a.words.empty() ? "unplug needs a USB identifier"
                                         : "unplug takes one USB identifier");
    }
    std::string usbId = a.words[0];
    if (!sensorbus::validIdentifier(usbId)) {
        return refused(err, sensorbus::BusStatus::badUsbId, usbId);
    }
    if (!bus.sensor(usbId)) {
        for (const auto& sensor : bus.sensors()) {
            if (sensor.serial == a.words[0]) {
                usbId = sensor.usbId;
            }
        }
    }
    const auto status = bus.unplug(usbId);
    if (status != sensorbus::BusStatus::ok) {
        return refused(err, status,
                       status == sensorbus::BusStatus::ioFailure ? bus.folder().string() : usbId);
    }
    out << "unplugged " << usbId << '\n';
    return kExitOk;
}

int expose(const sensorbus::Bus& bus, const Arguments& a, std::ostream& out, std::ostream& err) {
    if (!a.words.empty()) {
        throw UsageError("expose takes no word \"" + a.words[0] + "\"");
    }
    int count = 1;
    if (auto text = a.option("--count")) {
        auto value = parseInt(*text);
        if (!value || *value < 1 || *value > sensorbus::kMaxExposureRequest) {
            return refused(err, sensorbus::BusStatus::badCount, *text);
        }
        count = *value;
    }
    std::vector<sensorbus::SensorEntry> targets;
    if (auto usbId = a.option("--usb-id")) {
        if (!sensorbus::validIdentifier(*usbId)) {
            return refused(err, sensorbus::BusStatus::badUsbId, *usbId);
        }
        auto sensor = bus.sensor(*usbId);
        if (!sensor) {
            return refused(err, sensorbus::BusStatus::notPlugged, *usbId);
        }
        targets.push_back(*sensor);
    } else {
        targets = bus.sensors();
        if (targets.empty()) {
            err << "sensor-sim: no sensor is plugged\n";
            return kExitFailed;
        }
    }
    for (const auto& sensor : targets) {
        const auto status = bus.requestExposures(sensor.usbId, count);
        if (status != sensorbus::BusStatus::ok) {
            return refused(err, status,
                           status == sensorbus::BusStatus::ioFailure ? bus.folder().string() : sensor.usbId);
        }
        out << count << (count == 1 ? " exposure" : " exposures") << " requested for " << sensor.usbId << " ("
            << sensor.serial << ")\n";
    }
    return kExitOk;
}

int list(const sensorbus::Bus& bus, const Arguments& a, std::ostream& out) {
    if (!a.words.empty()) {
        throw UsageError("list takes no word \"" + a.words[0] + "\"");
    }
    for (const auto& sensor : bus.sensors()) {
        out << sensor.usbId << '\t' << sensor.serial << '\t' << sensor.product;
        if (sensor.triggerMode) {
            out << "\ttrigger_mode=" << *sensor.triggerMode;
        }
        if (sensor.plainFrames) {
            out << "\tframes=plain";
        }
        out << "\tcorrections=" << sensorbus::correctionsFolder(bus.folder(), sensor.serial).string() << '\n';
    }
    return kExitOk;
}

int fault(const sensorbus::Bus& bus, const Arguments& a, std::ostream& out, std::ostream& err) {
    if (a.words.empty()) {
        const auto faults = sensorbus::Faults::of(bus);
        for (const auto& set : faults.all()) {
            out << set.text() << '\n';
        }
        return kExitOk;
    }
    sensorbus::BusStatus status;
    if (a.words[0] == "clear") {
        if (a.words.size() > 3) {
            throw UsageError("fault clear takes a fault name and a step at most");
        }
        std::string key;
        for (std::size_t i = 1; i < a.words.size(); ++i) {
            key += (i > 1 ? " " : "") + a.words[i];
        }
        status = sensorbus::clearFaults(bus, key);
        if (status == sensorbus::BusStatus::ok) {
            out << (key.empty() ? std::string("faults cleared") : "fault " + key + " cleared") << '\n';
        }
    } else {
        std::string error;
        const auto parsed = sensorbus::parseFault(a.words, error);
        if (!parsed) {
            throw UsageError(error);
        }
        status = sensorbus::setFault(bus, *parsed);
        if (status == sensorbus::BusStatus::ok) {
            out << "fault set: " << parsed->text() << '\n';
        }
    }
    return status == sensorbus::BusStatus::ok ? kExitOk : refused(err, status, bus.folder().string());
}

} // namespace

int runCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        std::size_t next = 0;
        std::optional<sensorbus::Bus> bus;
        if (next < args.size() && (args[next] == "--help" || args[next] == "-h" || args[next] == "help")) {
            out << kUsage;
            return kExitOk;
        }
        if (next < args.size() && args[next] == "--bus") {
            if (next + 1 >= args.size() || args[next + 1].empty()) {
                throw UsageError("option --bus needs a folder");
            }
            bus.emplace(args[next + 1]);
            next += 2;
        }
        if (next >= args.size()) {
            throw UsageError("no command given");
        }
        const std::string& command = args[next];
        ++next;
        if (!bus) {
            bus = sensorbus::Bus::fromEnvironment();
        }
        if (command == "plug" || command == "unplug" || command == "expose" || command == "list" ||
            command == "fault") {
            if (!bus) {
                err << "sensor-sim: no bus folder: set " << sensorbus::kBusVariable
                    << " or give --bus FOLDER\n";
                return kExitUsage;
            }
        }
        if (command == "plug") {
            return plug(*bus, split(args, next, {"--product", "--usb-id", "--trigger-mode", "--frames"}), out,
                        err);
        }
        if (command == "unplug") {
            return unplug(*bus, split(args, next, {}), out, err);
        }
        if (command == "expose") {
            return expose(*bus, split(args, next, {"--count", "--usb-id"}), out, err);
        }
        if (command == "list") {
            return list(*bus, split(args, next, {}), out);
        }
        if (command == "fault") {
            return fault(*bus, split(args, next, {}), out, err);
        }
        throw UsageError("unknown command \"" + command + "\"");
    } catch (const UsageError& error) {
        err << "sensor-sim: " << error.message << "\n\n" << kUsage;
        return kExitUsage;
    }
}

} // namespace sensorsim
