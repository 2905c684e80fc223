#include "imaging/format_image.h"

#include "imaging/debug_snapshot.h"
#include "imaging/page_mat_allocator.h"
#include "imaging/perform_image_optimization.h"
#include "support/log.h"

#include <opencv2/core.hpp>

#include <cstdint>

namespace {

// 16-bit to 8-bit grey: v / 257, so that 65535 becomes 255.
constexpr double kTo8Bit = 0.0038910505836575876;

void putLittleEndian(std::vector<char>& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
}

// BITMAPINFOHEADER for an uncompressed 8-bit bottom-up picture, then the grey colour table.
void appendBitmapHeader(std::vector<char>& bytes, int width, int height) {
    putLittleEndian(bytes, 40, 4);
    putLittleEndian(bytes, static_cast<std::uint32_t>(width), 4);
    putLittleEndian(bytes, static_cast<std::uint32_t>(height), 4);
    putLittleEndian(bytes, 1, 2); // planes
    putLittleEndian(bytes, 8, 2); // bits per pixel
    for (int field = 0; field < 6; ++field) {
        // compression, image size, both resolutions, colours used, important colours
        putLittleEndian(bytes, 0, 4);
    }
    for (int level = 0; level < 256; ++level) {
        const auto grey = static_cast<char>(level);
        bytes.insert(bytes.end(), {grey, grey, grey, 0});
    }
}

} // namespace

std::vector<char> format_image(std::shared_ptr<Image> image, int& width, int& height, bool flip,
                               bool withHeader) {
    cv::Mat picture;
    perform_image_optimization(image, picture, width, height);
    writeLog([&image](std::ofstream& out) {
        out << "image parameter values: [" << image->contrast << ", " << image->brightness << ", "
            << image->gamma << "]" << std::endl;
    });
    const bool composite = image->composite;
    if (composite) {
        writeDebugSnapshot(picture, "debug_screenshot4.tiff");
    }

    cv::Mat grey;
    usePages(grey);
    cv::convertScaleAbs(picture, grey, kTo8Bit, 0);
    picture.release(); // only the 8-bit picture is needed from here on
    if (composite) {
        writeDebugSnapshot(grey, "debug_screenshot5.tiff");
    }

    const auto rowBytes = static_cast<std::size_t>(grey.cols);
    const std::size_t stride = withHeader ? bitmapRowStride(grey.cols) : rowBytes;
    const auto rows = static_cast<std::size_t>(grey.rows);
    std::vector<char> bytes;
    bytes.reserve((withHeader ? kBitmapHeaderSize : 0) + rows * stride);
    if (withHeader) {
        appendBitmapHeader(bytes, width, height);
    }
    if (!flip && !withHeader && grey.isContinuous()) {
        const auto* data = reinterpret_cast<const char*>(grey.data);
        bytes.insert(bytes.end(), data, data + rows * rowBytes);
        return bytes;
    }
    // Reading the rows from the bottom up gives the same bytes as flipping the picture first.
    for (std::size_t i = 0; i < rows; ++i) {
        const int row = static_cast<int>(flip ? rows - 1 - i : i);
        const auto* data = grey.ptr<char>(row);
        bytes.insert(bytes.end(), data, data + rowBytes);
        bytes.insert(bytes.end(), stride - rowBytes, 0);
    }
    return bytes;
}
