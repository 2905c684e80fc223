#include "imaging/tiff_file.h"

#include <cstdint>
#include <fstream>
#include <vector>

namespace {

void put16(std::vector<unsigned char>& out, std::uint16_t value) {
    out.push_back(static_cast<unsigned char>(value & 0xff));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

void put32(std::vector<unsigned char>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xff));
    }
}

// One directory entry holding a single SHORT or LONG value.
void entry(std::vector<unsigned char>& out, std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
    put16(out, tag);
    put16(out, type);
    put32(out, 1);
    if (type == 3) {
        put16(out, static_cast<std::uint16_t>(value));
        put16(out, 0);
    } else {
        put32(out, value);
    }
}

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;

} // namespace

bool writeGreyTiff(const std::filesystem::path& file, const cv::Mat& picture) {
    if (picture.empty() || picture.channels() != 1 ||
        (picture.depth() != CV_8U && picture.depth() != CV_16U) || picture.dims != 2) {
        return false;
    }
    const auto width = static_cast<std::uint32_t>(picture.cols);
    const auto height = static_cast<std::uint32_t>(picture.rows);
    const std::uint32_t bytesPerSample = picture.depth() == CV_8U ? 1 : 2;
    const std::uint64_t pixelBytes = std::uint64_t{width} * height * bytesPerSample;
    if (pixelBytes > 0xffff0000ull) {
        return false;
    }

    // Header, then the directory, then the pixels.
    constexpr std::uint16_t kEntries = 10;
    constexpr std::uint32_t kDirectoryOffset = 8;
    constexpr std::uint32_t kPixelOffset = kDirectoryOffset + 2 + kEntries * 12 + 4;
    std::vector<unsigned char> head;
    head.reserve(kPixelOffset);
    head.insert(head.end(), {'I', 'I', 42, 0});
    put32(head, kDirectoryOffset);
    put16(head, kEntries);
    entry(head, 256, kLong, width);               // ImageWidth
    entry(head, 257, kLong, height);              // ImageLength
    entry(head, 258, kShort, bytesPerSample * 8); // BitsPerSample
    entry(head, 259, kShort, 1);                  // Compression: none
    entry(head, 262, kShort, 1);                  // PhotometricInterpretation: black is zero
    entry(head, 273, kLong, kPixelOffset);        // StripOffsets
    entry(head, 277, kShort, 1);                  // SamplesPerPixel
    entry(head, 278, kLong, height);              // RowsPerStrip
    entry(head, 279, kLong, static_cast<std::uint32_t>(pixelBytes)); // StripByteCounts
    entry(head, 284, kShort, 1);                                     // PlanarConfiguration: contiguous
    put32(head, 0);                                                  // no further directory

    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) {
        return false;
    }
    out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    std::vector<unsigned char> row(std::size_t{width} * bytesPerSample);
    for (int y = 0; y < picture.rows; ++y) {
        if (bytesPerSample == 1) {
            const auto* source = picture.ptr<std::uint8_t>(y);
            row.assign(source, source + width);
        } else {
            // Little-endian samples, whatever the machine's own order.
            const auto* source = picture.ptr<std::uint16_t>(y);
            for (std::uint32_t x = 0; x < width; ++x) {
                row[2 * x] = static_cast<unsigned char>(source[x] & 0xff);
                row[2 * x + 1] = static_cast<unsigned char>(source[x] >> 8);
            }
        }
        out.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
    }
    out.close();
    return static_cast<bool>(out);
}
