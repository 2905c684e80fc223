// Small hand-made images for the optimization and formatting tests.
#pragma once

#include "imaging/image.h"

#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <vector>

namespace pictures {

// A stored image of width x height samples (row-major); no enhancement, so that the picture is the
// samples themselves unless a test switches it on.
inline std::shared_ptr<Image> make(int width, int height, std::vector<std::uint16_t> samples,
                                   bool upright = true, bool enhance = false) {
    auto image = std::make_shared<Image>();
    image->width = width;
    image->height = height;
    image->pixels = std::move(samples);
    image->upright = upright;
    image->enhance = enhance;
    return image;
}

inline std::shared_ptr<Image> uniform(int width, int height, std::uint16_t value, bool enhance = true) {
    return make(width, height, std::vector<std::uint16_t>(static_cast<std::size_t>(width) * height, value),
                true, enhance);
}

// Deterministic noise over the whole 16-bit range, full scale included.
inline std::vector<std::uint16_t> noise(int count, std::uint32_t seed) {
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(count));
    for (auto& sample : samples) {
        seed = seed * 1664525u + 1013904223u;
        sample = (seed >> 28) == 0 ? 65535 : static_cast<std::uint16_t>(seed >> 16);
    }
    return samples;
}

inline std::vector<std::uint16_t> values(const cv::Mat& matrix) {
    std::vector<std::uint16_t> out;
    for (int row = 0; row < matrix.rows; ++row) {
        const auto* data = matrix.ptr<std::uint16_t>(row);
        out.insert(out.end(), data, data + matrix.cols);
    }
    return out;
}

} // namespace pictures
