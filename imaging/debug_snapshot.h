// Support snapshots of the composite capture as it passes through the transfer formatting. They hold
// patient X-rays, so they are written only when the user names a folder for them in the environment
// variable OSTRA_DEBUG_SNAPSHOT_FOLDER; by default nothing is written.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <optional>

inline constexpr const char* kDebugSnapshotVariable = "OSTRA_DEBUG_SNAPSHOT_FOLDER";

// The folder named by OSTRA_DEBUG_SNAPSHOT_FOLDER when it names an existing folder; otherwise none
// (the folder is never created).
std::optional<std::filesystem::path> debugSnapshotFolder();

// Writes `picture` (grey, 8 or 16 bits) as an uncompressed TIFF file `fileName` in the snapshot folder, replacing an older one, when
// snapshots are enabled. Never throws; a failed write is ignored.
void writeDebugSnapshot(const cv::Mat& picture, const char* fileName);
