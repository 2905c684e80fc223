// A minimal baseline TIFF writer for the support snapshots: one strip, uncompressed, little-endian,
// grey pixels of 8 or 16 bits. It needs no image codec library, so the snapshots are written the
// same way on every system the source is built for.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>

// Writes a single-channel 8-bit or 16-bit `picture` as an uncompressed TIFF file, replacing `file`.
// False when the picture has another type or the file cannot be written.
bool writeGreyTiff(const std::filesystem::path& file, const cv::Mat& picture);
