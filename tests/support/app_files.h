// The files the driver keeps in the test's own application-data folder: the log and config.json.
#pragma once

#include "tests/common/test_env.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace appfiles {

inline std::filesystem::path folder() {
    return testenv::appDataFolder() / "vanto_sensor";
}
inline std::filesystem::path config() {
    return folder() / "config.json";
}

inline std::string read(const std::filesystem::path& path = config()) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeConfig(const std::string& text) {
    std::filesystem::create_directories(folder());
    std::ofstream(config(), std::ios::binary | std::ios::trunc) << text;
}

// Creates the folder (log records are dropped until it exists) and empties the log.
inline void startLog() {
    std::filesystem::create_directories(folder());
    std::ofstream(folder() / "ds.log", std::ios::trunc).close();
}

inline std::vector<std::string> logLines() {
    std::ifstream in(folder() / "ds.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace appfiles
