// The sensors' work folders. The work root is "<local application data>/vanto_sensor/work_dir"; each
// sensor has a folder there named after its serial number, and the product folders "DS1" and "DS2"
// (shipped in the driver folder, beside the detector library) are copied in, each with a "_temp"
// working copy from which a sensor is first opened.
//
// Nothing here locks: the device layer calls these under DeviceStatus's device lock.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

inline constexpr const char* kProductFolderNames[] = {"DS1", "DS2"};
inline constexpr std::string_view kTemporaryCopySuffix = "_temp";

// The work root; empty when there is no local application-data folder. Not created here.
std::optional<std::filesystem::path> workRootFolder();

// Whether `name` may name a folder directly under the work root: 1 to 255 bytes, not "." or "..",
// no path separator, drive or stream colon, root, wildcard or control character, no trailing dot or
// space (which Windows drops, so that "DS1." would be "DS1"), and not a Windows device name (CON,
// PRN, AUX, NUL, COM1-9, LPT1-9 in any case, with or without an extension).
bool isSafeFolderName(std::string_view name);

// A serial number (from the sensor, the configuration or a caller) as a folder name: the value when
// it is safe; an empty value is absent; any other value is logged as refused and absent.
std::optional<std::string> acceptedSerial(const std::optional<std::string>& serial);

// Copies `from` into `to` recursively, replacing files of the same names; `to` and its parents are
// created. Symbolic links are skipped. Returns the first error met (the copy goes on past it).
std::error_code copyFolder(const std::filesystem::path& from, const std::filesystem::path& to);
// The same, but a file already in `to` is kept as it is: only what is missing is copied.
std::error_code copyMissing(const std::filesystem::path& from, const std::filesystem::path& to);

// Brings the product folders of the driver folder into the work root: files the installation has
// newer (or the work root lacks) are copied; files added in the work root stay.
void installProductFolders(const std::filesystem::path& workRoot);
