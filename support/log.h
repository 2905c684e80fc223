// The data source's plain-text log, "vanto_sensor/ds.log" in the local application-data folder.
// Every record opens the file, appends and closes it again; nothing is ever reported to the caller.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

// Streams one record: the writer gets the open stream (possibly in a failed state, in which case its
// output is dropped) and ends each line with std::endl. It never keeps the stream.
using LogWriter = std::function<void(std::ofstream&)>;

void writeLog(LogWriter writer);

// One line: the text, a newline, a flush.
void writeString(const std::string& text);
// Same as writeString; the dialog code uses this one.
void writeString2(const std::string& text);
// Two lines: first, then second.
void writeTwoString(const std::string& first, std::string second);

// The log file's full path once it has been computed (by the first record that found the
// application-data folder); empty before that.
std::optional<std::filesystem::path> logFilePathIfKnown();

// Size at which the file is emptied before the next record.
inline constexpr std::uintmax_t kLogSizeLimit = 100'000'000;
