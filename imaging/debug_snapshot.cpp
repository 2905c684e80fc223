#include "imaging/debug_snapshot.h"

#include "imaging/tiff_file.h"

#include <cstdlib>
#include <system_error>

std::optional<std::filesystem::path> debugSnapshotFolder() {
    const char* value = std::getenv(kDebugSnapshotVariable);
    if (value == nullptr || *value == '\0') {
        return std::nullopt;
    }
    std::filesystem::path folder(value);
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec) || ec) {
        return std::nullopt;
    }
    return folder;
}

void writeDebugSnapshot(const cv::Mat& picture, const char* fileName) {
    try {
        if (const auto folder = debugSnapshotFolder()) {
            writeGreyTiff(*folder / fileName, picture);
        }
    } catch (...) {
        // A snapshot is a help for support; failing to write one never affects a transfer.
    }
}
