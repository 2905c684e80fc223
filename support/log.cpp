#include "support/log.h"

#include "platform/app_data.h"

#include <mutex>
#include <system_error>

namespace {

// Guards logFilePath. The path is computed once (a failed attempt is retried by the next record)
// and never changes afterwards; the lock only covers that computation and the copy taken from it.
std::mutex logPathMutex;
std::optional<std::filesystem::path> logFilePath;

std::optional<std::filesystem::path> currentLogPath() {
    std::lock_guard lock(logPathMutex);
    if (!logFilePath) {
        if (auto folder = platform::localAppDataFolder()) {
            logFilePath = *folder / "vanto_sensor" / "ds.log";
        }
    }
    return logFilePath;
}

} // namespace

void writeLog(LogWriter writer) {
    const auto path = currentLogPath();
    if (!path) {
        return;
    }

    std::error_code ec;
    const auto size = std::filesystem::file_size(*path, ec);
    if (!ec && size >= kLogSizeLimit) {
        std::filesystem::resize_file(*path, 0, ec);
    }

    std::ofstream stream(*path, std::ios::out | std::ios::app);
    if (writer) {
        writer(stream);
    }
    stream.close();
}

void writeString(const std::string& text) {
    writeLog([text](std::ofstream& out) { out << text << std::endl; });
}

void writeString2(const std::string& text) {
    writeString(text);
}

void writeTwoString(const std::string& first, std::string second) {
    writeLog([first, second = std::move(second)](std::ofstream& out) {
        out << first << std::endl;
        out << second << std::endl;
    });
}

std::optional<std::filesystem::path> logFilePathIfKnown() {
    std::lock_guard lock(logPathMutex);
    return logFilePath;
}

LogRecord::~LogRecord() {
    flush();
}

void LogRecord::flush() {
    std::string text = text_.str();
    text_.str({});
    if (!text.empty()) {
        writeLog([text = std::move(text)](std::ofstream& out) { out << text << std::flush; });
    }
}
