// The configuration file and log of the test's own application-data folder.
#pragma once

#include "tests/common/test_env.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testconfig {

inline std::filesystem::path folder() {
    return testenv::appDataFolder() / "vanto_sensor";
}
inline std::filesystem::path file() {
    return folder() / "config.json";
}

inline std::string read(const std::filesystem::path& path = file()) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write(const std::string& text) {
    std::filesystem::create_directories(folder());
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << text;
}

inline std::vector<std::string> logLines() {
    std::ifstream in(folder() / "ds.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

inline void clearLog() {
    std::filesystem::create_directories(folder());
    std::ofstream(folder() / "ds.log", std::ios::trunc).close();
}

} // namespace testconfig
