// Fuzz target: the settings file. Each input is the whole content of config.json, laid into a private
// application-data folder; the reader must give a record without crashing, a record it read must
// survive being written and read again, and a file it cannot use must never be replaced by an update.
#include "support/config_file.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path appData;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void removeAppData() {
    std::error_code ec;
    fs::remove_all(appData, ec);
}

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void lay(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (fs::temp_directory_path() / "ostra-fuzz-config-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    appData = pattern;
    setenv("XDG_DATA_HOME", appData.c_str(), 1);
    std::atexit(removeAppData);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    const auto path = filePath(true);
    require(path.has_value());
    lay(*path, text);

    // The reader's rules, taken from the file's own JSON: a file that does not parse or does not
    // convert gives the defaults.
    std::optional<ConfigFile> stored;
    try {
        stored = nlohmann::ordered_json::parse(text).get<ConfigFile>();
    } catch (const std::exception&) {
    }

    const ConfigFile first = readConfigFile();
    require(first == stored.value_or(ConfigFile{}));
    // Reading never changes a file that exists.
    require(contents(*path) == text);

    // An update over an unusable file keeps the file and holds the changed record in memory; over a
    // usable one it writes the changed record. Either way the next read gives the changed record.
    const auto change = [](ConfigFile& config) {
        config.previous_serial_numbers.insert("FUZZ0001");
        config.previous_serial_numbers_map["fuzz-usb"] = "FUZZ0001";
    };
    ConfigFile expected = first;
    change(expected);
    require(updateConfigFile(change) == expected);
    if (!stored) {
        require(contents(*path) == text);
    }
    require(readConfigFile() == expected);

    // Start the next input from a clean folder and without changes held from this one.
    fs::remove(*path);
    (void)readConfigFile();
    return 0;
}
