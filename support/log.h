// The data source's plain-text log, "vanto_sensor/ds.log" in the local application-data folder.
// Every record opens the file, appends and closes it again; nothing is ever reported to the caller.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
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

// Lines gathered and written as one record when flushed or destroyed, for operations that run many
// times per image (memory transfer strips): one open of the file for many lines.
class LogRecord {
public:
    LogRecord() = default;
    ~LogRecord();
    LogRecord(const LogRecord&) = delete;
    LogRecord& operator=(const LogRecord&) = delete;

    // Writes what has been gathered so far (before work that logs on its own).
    void flush();
    // Bytes gathered and not yet written.
    std::size_t size() { return static_cast<std::size_t>(text_.tellp()); }
    // One whole line.
    void line(const std::string& text) { text_ << text << '\n'; }
    // Builds a line piece by piece; end it with '\n'.
    template <typename T> LogRecord& operator<<(const T& value) {
        text_ << value;
        return *this;
    }

private:
    std::ostringstream text_;
};

// The log file's full path once it has been computed (by the first record that found the
// application-data folder); empty before that.
std::optional<std::filesystem::path> logFilePathIfKnown();

// Size at which the file is emptied before the next record.
inline constexpr std::uintmax_t kLogSizeLimit = 100'000'000;
