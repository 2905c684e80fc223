#include "sensor-sim/bus.h"

#include "sensor-sim/products.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace sensorbus {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kEntrySuffix = ".sensor";
constexpr std::string_view kExposureSuffix = ".exposures";
constexpr std::string_view kRequestLine = "1\n";

std::optional<int> parseInt(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// Removes a bus file; false when it did not exist. On Windows a file that a reader (the simulator or
// the USB service looking at the bus) holds open cannot be removed: each reader holds it for one
// read, so the removal is tried again for a while.
bool removeBusFile(const fs::path& file, std::error_code& ec) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (true) {
        const bool removed = fs::remove(file, ec);
        if (!ec || std::chrono::steady_clock::now() >= deadline) {
            return removed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::optional<SensorEntry> readEntry(const fs::path& file) {
    std::ifstream in(file);
    if (!in) {
        return std::nullopt;
    }
    SensorEntry entry;
    bool badTrigger = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        const std::string_view key(line.data(), equals);
        const std::string value = line.substr(equals + 1);
        if (key == "usb_id") {
            entry.usbId = value;
        } else if (key == "serial") {
            entry.serial = value;
        } else if (key == "product") {
            entry.product = value;
        } else if (key == "trigger_mode") {
            entry.triggerMode = parseInt(value);
            badTrigger = !entry.triggerMode || *entry.triggerMode > 255;
        } else if (key == "frames") {
            entry.plainFrames = value == "plain";
        }
    }
    const std::string stem = file.filename().string();
    const std::string expectedName = entry.usbId + std::string(kEntrySuffix);
    if (!validIdentifier(entry.usbId) || stem != expectedName || !validIdentifier(entry.serial) ||
        !findProduct(entry.product) || badTrigger) {
        return std::nullopt;
    }
    return entry;
}

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// A name no other writer (thread or process) uses at the same time.
std::string temporaryName(std::string_view usbId) {
    static std::atomic<unsigned> counter{0};
    static const unsigned processTag = std::random_device{}();
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::ostringstream name;
    name << ".tmp-" << usbId << '-' << now << '-' << counter.fetch_add(1) << '-' << processTag;
    return name.str();
}

} // namespace

std::string describe(BusStatus status, std::string_view subject) {
    const std::string s(subject);
    switch (status) {
    case BusStatus::ok:
        return "ok";
    case BusStatus::badUsbId:
        return "invalid USB identifier \"" + s + "\" (use 1 to 64 letters, digits, '.', '_' or '-')";
    case BusStatus::badSerial:
        return "invalid serial number \"" + s + "\" (use 1 to 64 letters, digits, '.', '_' or '-')";
    case BusStatus::unknownProduct:
        return "unknown product \"" + s + "\" (use DS1 or DS2)";
    case BusStatus::badTriggerMode:
        return "invalid trigger mode \"" + s + "\" (use 0 to 255)";
    case BusStatus::usbIdInUse:
        return "a sensor with USB identifier " + s + " is already plugged";
    case BusStatus::serialInUse:
        return "a sensor with serial number " + s + " is already plugged";
    case BusStatus::notPlugged:
        return "no sensor with USB identifier " + s + " is plugged";
    case BusStatus::badCount:
        return "invalid exposure count \"" + s + "\" (use 1 to " + std::to_string(kMaxExposureRequest) + ")";
    case BusStatus::ioFailure:
        return "cannot write the sensor bus folder " + s;
    }
    return "unknown bus status";
}

bool validIdentifier(std::string_view text) {
    if (text.empty() || text.size() > 64 || text.front() == '.') {
        return false;
    }
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
               c == '_' || c == '-';
    });
}

std::string defaultUsbId(std::string_view serial) {
    std::uint32_t hash = 2166136261u; // FNV-1a
    for (unsigned char c : serial) {
        hash = (hash ^ c) * 16777619u;
    }
    char text[9];
    std::snprintf(text, sizeof text, "%08X", hash);
    return text;
}

std::optional<Bus> Bus::fromEnvironment() {
    const char* folder = std::getenv(kBusVariable);
    if (folder == nullptr || folder[0] == '\0') {
        return std::nullopt;
    }
    return Bus(folder);
}

fs::path Bus::entryFile(std::string_view usbId) const {
    return folder_ / (std::string(usbId) + std::string(kEntrySuffix));
}

fs::path Bus::exposureFile(std::string_view usbId) const {
    return folder_ / (std::string(usbId) + std::string(kExposureSuffix));
}

std::vector<SensorEntry> Bus::sensors() const {
    std::vector<SensorEntry> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.' || !endsWith(name, kEntrySuffix)) {
            continue;
        }
        if (auto entry = readEntry(it->path())) {
            found.push_back(std::move(*entry));
        }
    }
    std::sort(found.begin(), found.end(),
              [](const SensorEntry& a, const SensorEntry& b) { return a.usbId < b.usbId; });
    return found;
}

std::optional<SensorEntry> Bus::sensor(std::string_view usbId) const {
    if (!validIdentifier(usbId)) {
        return std::nullopt;
    }
    return readEntry(entryFile(usbId));
}

BusStatus Bus::plug(const SensorEntry& entry) const {
    if (!validIdentifier(entry.usbId)) {
        return BusStatus::badUsbId;
    }
    if (!validIdentifier(entry.serial)) {
        return BusStatus::badSerial;
    }
    if (!findProduct(entry.product)) {
        return BusStatus::unknownProduct;
    }
    if (entry.triggerMode && (*entry.triggerMode < 0 || *entry.triggerMode > 255)) {
        return BusStatus::badTriggerMode;
    }
    std::error_code ec;
    fs::create_directories(folder_, ec);
    if (!fs::is_directory(folder_, ec)) {
        return BusStatus::ioFailure;
    }
    for (const auto& plugged : sensors()) {
        if (plugged.usbId == entry.usbId) {
            return BusStatus::usbIdInUse;
        }
        if (plugged.serial == entry.serial) {
            return BusStatus::serialInUse;
        }
    }

    removeBusFile(exposureFile(entry.usbId), ec);
    const fs::path temporary = folder_ / temporaryName(entry.usbId);
    {
        std::ofstream out(temporary, std::ios::out | std::ios::trunc);
        out << "usb_id=" << entry.usbId << '\n' << "serial=" << entry.serial << '\n';
        out << "product=" << entry.product << '\n';
        if (entry.triggerMode) {
            out << "trigger_mode=" << *entry.triggerMode << '\n';
        }
        if (entry.plainFrames) {
            out << "frames=plain\n";
        }
        out.close();
        if (out.fail()) {
            fs::remove(temporary, ec);
            return BusStatus::ioFailure;
        }
    }
    fs::rename(temporary, entryFile(entry.usbId), ec);
    if (ec) {
        fs::remove(temporary, ec);
        return BusStatus::ioFailure;
    }
    return BusStatus::ok;
}

BusStatus Bus::unplug(std::string_view usbId) const {
    if (!validIdentifier(usbId)) {
        return BusStatus::badUsbId;
    }
    std::error_code ec;
    if (!removeBusFile(entryFile(usbId), ec)) {
        return ec ? BusStatus::ioFailure : BusStatus::notPlugged;
    }
    removeBusFile(exposureFile(usbId), ec);
    return BusStatus::ok;
}

BusStatus Bus::requestExposures(std::string_view usbId, int count) const {
    if (!validIdentifier(usbId)) {
        return BusStatus::badUsbId;
    }
    if (count < 1 || count > kMaxExposureRequest) {
        return BusStatus::badCount;
    }
    if (!sensor(usbId)) {
        return BusStatus::notPlugged;
    }
    std::string requests;
    for (int i = 0; i < count; ++i) {
        requests += kRequestLine;
    }
    // One append of whole lines: concurrent requesters never split a line.
    std::ofstream out(exposureFile(usbId), std::ios::out | std::ios::app | std::ios::binary);
    out.write(requests.data(), static_cast<std::streamsize>(requests.size()));
    out.close();
    return out.fail() ? BusStatus::ioFailure : BusStatus::ok;
}

std::uint64_t Bus::exposureCount(std::string_view usbId) const {
    if (!validIdentifier(usbId)) {
        return 0;
    }
    std::error_code ec;
    const auto size = fs::file_size(exposureFile(usbId), ec);
    return ec ? 0 : size / kRequestLine.size();
}

} // namespace sensorbus
