// Per-process test folders set up by the test main.
#pragma once

#include <filesystem>

namespace testenv {

const std::filesystem::path& tempRoot();
// $XDG_DATA_HOME of this process (the local application-data folder).
std::filesystem::path appDataFolder();
// $OSTRA_SENSOR_BUS of this process.
std::filesystem::path busFolder();

} // namespace testenv
