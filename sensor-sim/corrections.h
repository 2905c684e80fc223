// The correction files of the simulated sensors. A real sensor comes with a calibration disk holding
// its own pair of correction files; every simulated sensor gets one too, in a folder of the bus
// folder, written when it is plugged. Each file names the sensor it belongs to on a line
// "serial=<serial number>", and the simulated detector refuses another sensor's files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace sensorbus {

// busFolder/corrections/<serial>: the calibration disk of that sensor.
std::filesystem::path correctionsFolder(const std::filesystem::path& busFolder, std::string_view serial);

// Writes folder/<serial>.dft and folder/<serial>.gn naming `serial` (creating the folder, replacing
// older files). False on failure.
bool writeCorrectionFiles(const std::filesystem::path& folder, std::string_view serial);

// The serial number a correction file names; empty when it names none (a technician's generic
// file) or cannot be read.
std::optional<std::string> correctionFileSerial(const std::filesystem::path& file);

// The folder holds a ".dft" and a ".gn" file that belong to the sensor `serial`: files naming that
// serial or no serial at all. Files of another sensor do not count.
bool holdsCorrectionFilesFor(const std::filesystem::path& folder, std::string_view serial);

} // namespace sensorbus
