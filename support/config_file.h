// The driver's persisted settings: "config.json" in the "vanto_sensor" folder of the local
// application-data folder (beside the log), one compact JSON object with sorted keys.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

// The brightness, contrast and gamma the user keeps as a preset for every image.
struct ImagePreset {
    double contrast = 1.0;
    std::int32_t brightness = 0;
    double gamma = 0.68;

    friend bool operator==(const ImagePreset&, const ImagePreset&) = default;
};

// The in-memory record of the file; a plain value, copied freely.
struct ConfigFile {
    bool auto_save_enabled = false;
    // Absent only in memory; written as JSON null.
    std::optional<std::string> last_serial_number = std::string();
    std::set<std::string> previous_serial_numbers;
    // USB identifier of a sensor -> its serial number.
    std::unordered_map<std::string, std::string> previous_serial_numbers_map;
    bool enable_template_mode = false;
    // 1 Ultra HD, 0 HD.
    std::uint8_t current_image_mode = 1;
    ImagePreset image_presets;
    bool image_presets_locked = false;
    // Set by the dialog while the user's preset differs from the stored one; never stored.
    bool presetsChanged = false;

    friend bool operator==(const ConfigFile&, const ConfigFile&) = default;
};

// Full path of "config.json". With `create`, the "vanto_sensor" folder is created first; empty when
// the application-data folder is unavailable or the folder cannot be made.
std::optional<std::filesystem::path> filePath(bool create);

// The stored settings, or the defaults whenever the file cannot be used (or the changes that
// updateConfigFile could not write over it). A missing file is created with the defaults; a broken
// one is logged and left as it is. Never throws.
ConfigFile readConfigFile();

// Replaces the file at `path` with `config`. The text goes to a temporary file in the same folder
// that is then renamed over `path`, so a reader or a crash never sees half a file. A failure
// leaves the old file as it was and is not reported.
void writeConfigFileToPath(const std::filesystem::path& path, const ConfigFile& config);
// writeConfigFileToPath on filePath(true); nothing when there is no path.
void writeConfigFile(const ConfigFile& config);

// Reads the file, applies `change` to the record and writes it back, as one step with respect to
// every other read and write of this process and, through a lock file beside config.json
// ("config.json.lock"), of every other process of the account. Returns the record written.
// `change` may throw, in which case nothing is written. A file that exists but cannot be read or
// parsed is never replaced: the changed record is then kept in memory with the fields the changes
// touched, returned by this process's later reads while the file stays unusable, and merged into
// the file's own record once it can be read again (or written when it is next created because it
// is missing): touched fields are taken over, the serial history and the USB map only grow.
ConfigFile updateConfigFile(const std::function<void(ConfigFile&)>& change);

// JSON conversions. Writing always gives all keys, in ascending order at every level. Reading
// follows the file's rules: "auto_save_enabled" and the three preset values are required, other
// keys missing or null keep their defaults, and a value of the wrong type raises the library's
// type error.
void to_json(nlohmann::ordered_json& json, const ImagePreset& preset);
void from_json(const nlohmann::ordered_json& json, ImagePreset& preset);
void to_json(nlohmann::ordered_json& json, const ConfigFile& config);
void from_json(const nlohmann::ordered_json& json, ConfigFile& config);
