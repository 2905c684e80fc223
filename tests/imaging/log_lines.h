// Reading back what the code under test wrote to the log.
#pragma once

#include "tests/common/test_env.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testlog {

inline std::filesystem::path file() {
    return testenv::appDataFolder() / "vanto_sensor" / "ds.log";
}

// Creates the log's folder (records are dropped until it exists) and empties the log.
inline void start() {
    std::filesystem::create_directories(file().parent_path());
    std::ofstream(file(), std::ios::trunc).close();
}

inline std::vector<std::string> lines() {
    std::ifstream in(file());
    std::vector<std::string> result;
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

} // namespace testlog
