#include "support/config_file.h"

#include "platform/app_data.h"
#include "platform/file_lock.h"
#include "platform/replace_file.h"
#include "support/log.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;
using nlohmann::ordered_json;

namespace {

// Serialises every read and write of the file within the process, so that a read-modify-write
// (updateConfigFile, or a read that creates the file) is never interleaved with another writer.
// Recursive so that a change function that reads or writes the file itself cannot hang.
std::recursive_mutex& configMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

// Each unit of the path narrowed to its low byte, as the log records paths.
std::string narrowed(const fs::path& path) {
    std::string text;
    for (const auto unit : path.native()) {
        text.push_back(static_cast<char>(unit));
    }
    return text;
}

[[noreturn]] void throwNotNumber(const ordered_json& json) {
    throw ordered_json::type_error::create(
        302, std::string("type must be number, but is ") + json.type_name(), &json);
}

// A JSON number as a double; anything else (booleans included) is a type error.
double realFrom(const ordered_json& json) {
    if (!json.is_number()) {
        throwNotNumber(json);
    }
    return json.get<double>();
}

// A JSON number as an integer: a fraction is dropped and a value out of range wraps around, as an
// integer conversion does. Anything else (booleans included) is a type error.
template <typename Int> Int integerFrom(const ordered_json& json) {
    if (json.is_number_unsigned()) {
        return static_cast<Int>(json.get<std::uint64_t>());
    }
    if (json.is_number_integer()) {
        return static_cast<Int>(json.get<std::int64_t>());
    }
    if (!json.is_number_float()) {
        throwNotNumber(json);
    }
    static_assert(sizeof(Int) < sizeof(std::uint64_t));
    const double span = static_cast<double>(std::uint64_t{1} << (8 * sizeof(Int)));
    double value = json.get<double>();
    if (!std::isfinite(value)) {
        value = 0;
    }
    double wrapped = std::fmod(std::trunc(value), span);
    if (wrapped < 0) {
        wrapped += span;
    }
    return static_cast<Int>(static_cast<std::uint64_t>(wrapped));
}

bool present(const ordered_json& json, const char* key) {
    const auto found = json.find(key);
    return found != json.end() && !found->is_null();
}

// A name of its own for every write of every process, beside the file it will replace.
fs::path temporaryPathFor(const fs::path& path) {
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t processTag =
        static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) ^
        reinterpret_cast<std::uintptr_t>(&counter);
    std::ostringstream suffix;
    suffix << '.' << std::hex << processTag << '-' << counter++ << ".tmp";
    fs::path name = path.filename();
    name += suffix.str();
    return path.parent_path() / name;
}

std::optional<fs::path> filePathLocked(bool create) {
    const auto folder = platform::localAppDataFolder();
    writeString("filePath 1");
    if (!folder) {
        return std::nullopt;
    }
    const fs::path dir = *folder / "vanto_sensor";
    if (create) {
        std::error_code ec;
        fs::create_directory(dir, ec);
        if (!fs::is_directory(dir, ec)) {
            return std::nullopt;
        }
    }
    return dir / "config.json";
}

bool writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out) {
        return false;
    }
    out << text << '\n';
    out.flush();
    out.close();
    return !out.fail();
}

void writeLocked(const fs::path& path, const ConfigFile& config) {
    std::optional<fs::path> temporary;
    try {
        const ordered_json json = config;
        writeString("writeConfigFileToPath");
        // Text that is not valid UTF-8 (an odd device name) is stored with replacement characters
        // rather than failing the whole write.
        const std::string text = json.dump(-1, ' ', false, ordered_json::error_handler_t::replace);

        // The old file stays whole until the new one is complete: write beside it, then rename.
        temporary = temporaryPathFor(path);
        std::error_code ec;
        if (writeText(*temporary, text)) {
            ec = platform::replaceFile(*temporary, path);
            if (!ec) {
                return;
            }
        }
    } catch (...) {
        // Not reported: the old file is kept, as for any other failed write.
    }
    if (temporary) {
        std::error_code ec;
        fs::remove(*temporary, ec);
    }
}

// What a read found: the file's record, a missing file (created with the defaults), or a file that
// exists but cannot be used (left as it is).
enum class FileState { usable, missing, broken };

struct ReadOutcome {
    ConfigFile config;
    FileState state = FileState::broken;
};

// Changes made while the file could not be used, with the fields they touched: they live on in
// memory (for this process's later reads) until the file can be read again, and are then merged
// into what it holds (or written when it is next created). Guarded by configMutex().
enum HeldField : unsigned {
    kAutoSave = 1u << 0,
    kLastSerial = 1u << 1,
    kPreviousSerials = 1u << 2,
    kSerialMap = 1u << 3,
    kTemplateMode = 1u << 4,
    kImageMode = 1u << 5,
    kPresets = 1u << 6,
    kPresetsLocked = 1u << 7,
};

struct HeldChanges {
    ConfigFile record;
    unsigned touched = 0;
};

std::optional<HeldChanges>& heldChanges() {
    static std::optional<HeldChanges> held;
    return held;
}

unsigned changedFields(const ConfigFile& before, const ConfigFile& after) {
    unsigned fields = 0;
    fields |= before.auto_save_enabled != after.auto_save_enabled ? kAutoSave : 0u;
    fields |= before.last_serial_number != after.last_serial_number ? kLastSerial : 0u;
    fields |= before.previous_serial_numbers != after.previous_serial_numbers ? kPreviousSerials : 0u;
    fields |= before.previous_serial_numbers_map != after.previous_serial_numbers_map ? kSerialMap : 0u;
    fields |= before.enable_template_mode != after.enable_template_mode ? kTemplateMode : 0u;
    fields |= before.current_image_mode != after.current_image_mode ? kImageMode : 0u;
    fields |= before.image_presets != after.image_presets ? kPresets : 0u;
    fields |= before.image_presets_locked != after.image_presets_locked ? kPresetsLocked : 0u;
    return fields;
}

// The held changes on top of the file's record: the fields they touched are theirs; the serial
// history and the USB map only grow.
void mergeHeld(const HeldChanges& held, ConfigFile& config) {
    const ConfigFile& mine = held.record;
    if (held.touched & kAutoSave) {
        config.auto_save_enabled = mine.auto_save_enabled;
    }
    if (held.touched & kLastSerial) {
        config.last_serial_number = mine.last_serial_number;
    }
    if (held.touched & kPreviousSerials) {
        config.previous_serial_numbers.insert(mine.previous_serial_numbers.begin(),
                                              mine.previous_serial_numbers.end());
    }
    if (held.touched & kSerialMap) {
        for (const auto& [usbId, serial] : mine.previous_serial_numbers_map) {
            config.previous_serial_numbers_map[usbId] = serial;
        }
    }
    if (held.touched & kTemplateMode) {
        config.enable_template_mode = mine.enable_template_mode;
    }
    if (held.touched & kImageMode) {
        config.current_image_mode = mine.current_image_mode;
    }
    if (held.touched & kPresets) {
        config.image_presets = mine.image_presets;
    }
    if (held.touched & kPresetsLocked) {
        config.image_presets_locked = mine.image_presets_locked;
    }
}

// Within the process configMutex(); between processes (two applications of one account) a lock file
// beside config.json, taken by the outermost holder only.
class ConfigLock {
public:
    ConfigLock() : process_(configMutex()) {
        if (depth()++ == 0) {
            if (const auto folder = platform::localAppDataFolder()) {
                std::error_code ec;
                if (fs::is_directory(*folder / "vanto_sensor", ec)) {
                    file_.emplace(*folder / "vanto_sensor" / "config.json.lock");
                }
            }
        }
    }
    ~ConfigLock() { --depth(); }
    ConfigLock(const ConfigLock&) = delete;
    ConfigLock& operator=(const ConfigLock&) = delete;

private:
    static int& depth() {
        static int held = 0; // guarded by configMutex()
        return held;
    }
    std::unique_lock<std::recursive_mutex> process_;
    std::optional<platform::FileLock> file_;
};

ReadOutcome readFileLocked() {
    ReadOutcome outcome;
    ConfigFile& result = outcome.config;
    const auto path = filePathLocked(true);
    if (!path) {
        return outcome;
    }
    const std::string shown = narrowed(*path);
    writeLog([&shown](std::ofstream& out) { out << "reading file from full path: " << shown << std::endl; });

    std::error_code ec;
    const auto status = fs::status(*path, ec);
    if (ec || status.type() == fs::file_type::not_found) {
        const std::string reason =
            ec ? ec.message() : std::make_error_code(std::errc::no_such_file_or_directory).message();
        writeLog([&reason](std::ofstream& out) { out << "Unable to read: " << reason << std::endl; });
        // Only a file that is not there is created; one whose state cannot be queried (a folder
        // without access, a passing failure) may hold a clinic's history and is left alone.
        if (status.type() != fs::file_type::not_found) {
            return outcome;
        }
        if (heldChanges()) {
            mergeHeld(*heldChanges(), result);
        }
        writeLocked(*path, result);
        heldChanges().reset();
        outcome.state = FileState::missing;
        return outcome;
    }

    std::ifstream file;
    std::string raw;
    try {
        file.open(*path, std::ios::in);
        if (file.good()) {
            raw.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
            file.close();
        }
        const auto json = ordered_json::parse(raw, nullptr, false);
        result = json.get<ConfigFile>();
        outcome.state = FileState::usable;
        if (heldChanges()) {
            // Readable again: what was changed meanwhile joins what the file holds.
            mergeHeld(*heldChanges(), result);
            heldChanges().reset();
            writeString("config.json readable again: held changes merged");
            writeLocked(*path, result);
        }
        return outcome;
    } catch (const std::exception& e) {
        const std::string what = e.what();
        const bool failed = file.fail();
        writeLog([&](std::ofstream& out) {
            out << "exception: " << what << std::endl;
            out << "invalid json " << (failed ? "yes" : "no") << std::endl;
            out << "File Raw: " << raw << std::endl;
        });
    } catch (...) {
        const bool isNull = std::current_exception() == nullptr;
        writeLog([isNull](std::ofstream& out) {
            out << "exception: unknown" << std::endl;
            out << "isNull: " << (isNull ? "yes" : "no") << std::endl;
        });
    }
    result = ConfigFile{};
    return outcome;
}

// The record a reader gets: the file's, or while it cannot be used, the changes held in memory (else
// the defaults).
ConfigFile readLocked() {
    ReadOutcome outcome = readFileLocked();
    if (outcome.state == FileState::broken && heldChanges()) {
        return heldChanges()->record;
    }
    return std::move(outcome.config);
}

} // namespace

std::optional<fs::path> filePath(bool create) {
    return filePathLocked(create);
}

ConfigFile readConfigFile() {
    const ConfigLock lock;
    return readLocked();
}

void writeConfigFileToPath(const fs::path& path, const ConfigFile& config) {
    std::lock_guard lock(configMutex());
    writeLocked(path, config);
}

void writeConfigFile(const ConfigFile& config) {
    const ConfigLock lock;
    if (const auto path = filePathLocked(true)) {
        writeLocked(*path, config);
    }
}

ConfigFile updateConfigFile(const std::function<void(ConfigFile&)>& change) {
    // Read, change and replace as one step, also against another application's.
    const ConfigLock lock;
    ReadOutcome outcome = readFileLocked();
    const bool broken = outcome.state == FileState::broken;
    ConfigFile config = broken && heldChanges() ? heldChanges()->record : std::move(outcome.config);
    const ConfigFile before = config;
    if (change) {
        change(config);
    }
    if (broken) {
        // Writing now would replace the serial history, the USB map and the presets with defaults.
        writeString("config.json is not replaced: it cannot be read");
        const unsigned touched =
            (heldChanges() ? heldChanges()->touched : 0u) | changedFields(before, config);
        heldChanges() = HeldChanges{config, touched};
        return config;
    }
    if (const auto path = filePathLocked(true)) {
        writeLocked(*path, config);
    }
    return config;
}

void to_json(ordered_json& json, const ImagePreset& preset) {
    json = ordered_json::object();
    json["brightness"] = preset.brightness;
    json["contrast"] = preset.contrast;
    json["gamma"] = preset.gamma;
}

void from_json(const ordered_json& json, ImagePreset& preset) {
    ImagePreset result;
    result.contrast = realFrom(json.at("contrast"));
    result.brightness = integerFrom<std::int32_t>(json.at("brightness"));
    result.gamma = realFrom(json.at("gamma"));
    preset = result;
}

void to_json(ordered_json& json, const ConfigFile& config) {
    // Keys are inserted in ascending order; the ordered object keeps them so.
    json = ordered_json::object();
    json["auto_save_enabled"] = config.auto_save_enabled;
    json["current_image_mode"] = config.current_image_mode;
    json["enable_template_mode"] = config.enable_template_mode;
    json["image_presets"] = config.image_presets;
    json["image_presets_locked"] = config.image_presets_locked;
    json["last_serial_number"] =
        config.last_serial_number ? ordered_json(*config.last_serial_number) : ordered_json(nullptr);
    json["previous_serial_numbers"] = config.previous_serial_numbers;
    auto map = ordered_json::object();
    for (const auto& [usb, serial] : std::map<std::string, std::string>(
             config.previous_serial_numbers_map.begin(), config.previous_serial_numbers_map.end())) {
        map[usb] = serial;
    }
    json["previous_serial_numbers_map"] = std::move(map);
}

void from_json(const ordered_json& json, ConfigFile& config) {
    ConfigFile result;
    result.auto_save_enabled = json.at("auto_save_enabled").get<bool>();
    if (present(json, "last_serial_number")) {
        auto serial = json.at("last_serial_number").get<std::string>();
        if (!serial.empty()) {
            result.last_serial_number = std::move(serial);
        }
    }
    if (json.contains("previous_serial_numbers")) {
        result.previous_serial_numbers = json.at("previous_serial_numbers").get<std::set<std::string>>();
    }
    if (json.contains("previous_serial_numbers_map")) {
        result.previous_serial_numbers_map =
            json.at("previous_serial_numbers_map").get<std::unordered_map<std::string, std::string>>();
    }
    if (present(json, "enable_template_mode")) {
        result.enable_template_mode = json.at("enable_template_mode").get<bool>();
    }
    if (present(json, "current_image_mode")) {
        result.current_image_mode = integerFrom<std::uint8_t>(json.at("current_image_mode"));
    }
    if (present(json, "image_presets")) {
        result.image_presets = json.at("image_presets").get<ImagePreset>();
    }
    if (present(json, "image_presets_locked")) {
        result.image_presets_locked = json.at("image_presets_locked").get<bool>();
    }
    config = std::move(result);
}
