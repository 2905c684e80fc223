#include "sensor-sim/faults.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <fstream>
#include <random>
#include <sstream>

namespace sensorbus {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFaultFile = "faults";

std::optional<int> number(const std::string& text, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

bool knownStep(const std::string& step, bool withCreate) {
    return step == "connect" || step == "correction" || step == "write-params" || step == "start" ||
           (withCreate && step == "create");
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> found;
    std::istringstream in(line);
    for (std::string word; in >> word;) {
        found.push_back(word);
    }
    return found;
}

std::vector<Fault> readFaults(const fs::path& file) {
    std::vector<Fault> faults;
    std::ifstream in(file);
    std::string error;
    for (std::string line; std::getline(in, line);) {
        if (auto fault = parseFault(words(line), error)) {
            faults.push_back(std::move(*fault));
        }
    }
    return faults;
}

BusStatus writeFaults(const Bus& bus, const std::vector<Fault>& faults) {
    std::error_code ec;
    fs::create_directories(bus.folder(), ec);
    static std::atomic<unsigned> counter{0};
    static const unsigned processTag = std::random_device{}();
    std::ostringstream name;
    name << ".tmp-faults-" << std::chrono::steady_clock::now().time_since_epoch().count() << '-'
         << counter.fetch_add(1) << '-' << processTag;
    const fs::path temporary = bus.folder() / name.str();
    {
        std::ofstream out(temporary, std::ios::out | std::ios::trunc);
        for (const auto& fault : faults) {
            out << fault.text() << '\n';
        }
        out.close();
        if (out.fail()) {
            fs::remove(temporary, ec);
            return BusStatus::ioFailure;
        }
    }
    fs::rename(temporary, bus.folder() / kFaultFile, ec);
    if (ec) {
        fs::remove(temporary, ec);
        return BusStatus::ioFailure;
    }
    return BusStatus::ok;
}

} // namespace

std::string Fault::key() const {
    return (name == "fail" || name == "late") && !args.empty() ? name + " " + args[0] : name;
}

std::string Fault::text() const {
    std::string line = name;
    for (const auto& arg : args) {
        line += ' ' + arg;
    }
    return line;
}

std::optional<Fault> parseFault(const std::vector<std::string>& words, std::string& error) {
    if (words.empty()) {
        error = "no fault named";
        return std::nullopt;
    }
    Fault fault{words[0], {words.begin() + 1, words.end()}};
    const auto& args = fault.args;
    const auto arity = [&](std::size_t count, const char* form) {
        if (args.size() != count) {
            error = "fault " + fault.name + " takes " + form;
            return false;
        }
        return true;
    };
    if (fault.name == "fail") {
        if (!arity(2, "STEP CODE")) {
            return std::nullopt;
        }
        if (!knownStep(args[0], true)) {
            error =
                "unknown step \"" + args[0] + "\" (use create, connect, correction, write-params or start)";
            return std::nullopt;
        }
        if (!number(args[1], 100, 999)) {
            error = "invalid SDK code \"" + args[1] + "\" (use 100 to 999)";
            return std::nullopt;
        }
    } else if (fault.name == "late") {
        if (!arity(2, "STEP MS")) {
            return std::nullopt;
        }
        if (!knownStep(args[0], false)) {
            error = "unknown step \"" + args[0] + "\" (use connect, correction, write-params or start)";
            return std::nullopt;
        }
        if (!number(args[1], 1, 600000)) {
            error = "invalid delay \"" + args[1] + "\" (use 1 to 600000 milliseconds)";
            return std::nullopt;
        }
    } else if (fault.name == "frame-size") {
        if (!arity(2, "WIDTH HEIGHT")) {
            return std::nullopt;
        }
        if (!number(args[0], 0, 4096) || !number(args[1], 0, 4096)) {
            error = "invalid frame size \"" + args[0] + " " + args[1] + "\" (use 0 to 4096 each)";
            return std::nullopt;
        }
    } else if (fault.name == "duplicate-events" || fault.name == "event-after-destroy" ||
               fault.name == "unplug-in-exposure") {
        if (!arity(0, "no arguments")) {
            return std::nullopt;
        }
    } else {
        error = "unknown fault \"" + fault.name + "\"";
        return std::nullopt;
    }
    return fault;
}

Faults Faults::of(const Bus& bus) {
    Faults faults;
    faults.faults_ = readFaults(bus.folder() / kFaultFile);
    return faults;
}

Faults Faults::fromEnvironment() {
    const auto bus = Bus::fromEnvironment();
    return bus ? of(*bus) : Faults{};
}

const Fault* Faults::find(std::string_view key) const {
    const auto found = std::find_if(faults_.begin(), faults_.end(),
                                    [key](const Fault& fault) { return fault.key() == key; });
    return found != faults_.end() ? &*found : nullptr;
}

bool Faults::has(std::string_view name) const {
    return find(name) != nullptr;
}

std::optional<int> Faults::failCode(std::string_view step) const {
    const Fault* fault = find("fail " + std::string(step));
    return fault != nullptr ? number(fault->args[1], 100, 999) : std::nullopt;
}

std::optional<int> Faults::lateMs(std::string_view step) const {
    const Fault* fault = find("late " + std::string(step));
    return fault != nullptr ? number(fault->args[1], 1, 600000) : std::nullopt;
}

std::optional<std::pair<int, int>> Faults::frameSize() const {
    const Fault* fault = find("frame-size");
    if (fault == nullptr) {
        return std::nullopt;
    }
    return std::pair{*number(fault->args[0], 0, 4096), *number(fault->args[1], 0, 4096)};
}

BusStatus setFault(const Bus& bus, const Fault& fault) {
    auto faults = Faults::of(bus).all();
    std::erase_if(faults, [&](const Fault& set) { return set.key() == fault.key(); });
    faults.push_back(fault);
    return writeFaults(bus, faults);
}

BusStatus clearFaults(const Bus& bus, std::string_view key) {
    auto faults = Faults::of(bus).all();
    const std::size_t before = faults.size();
    std::erase_if(faults, [&](const Fault& set) { return key.empty() || set.key() == key; });
    return faults.size() == before && !key.empty() ? BusStatus::ok : writeFaults(bus, faults);
}

} // namespace sensorbus
