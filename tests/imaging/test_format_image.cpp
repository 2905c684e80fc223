#include "imaging/debug_snapshot.h"
#include "imaging/format_image.h"
#include "imaging/perform_image_optimization.h"
#include "tests/common/test_env.h"
#include "tests/imaging/pictures.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::uint32_t readLittleEndian(const std::vector<char>& bytes, std::size_t offset, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes.at(offset + i));
    }
    return value;
}

std::vector<unsigned char> unsignedBytes(const std::vector<char>& bytes, std::size_t from = 0) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end()};
}

struct Formatted {
    std::vector<char> bytes;
    int width = -1;
    int height = -1;
};

Formatted format(const std::shared_ptr<Image>& image, bool native) {
    Formatted out;
    out.bytes = format_image(image, out.width, out.height, native, native);
    return out;
}

// 65535 becomes 255, 128 rounds down to 0, 129 up to 1, multiples of 257 divide exactly.
std::shared_ptr<Image> threeByTwo(bool upright = true) {
    return pictures::make(3, 2, {65535, 128, 129, 257, 0, 514}, upright);
}

TEST(FormatImage, NativeFormIsABottomUpGreyBitmapWithPaddedRows) {
    const auto out = format(threeByTwo(), true);
    EXPECT_EQ(out.width, 3);
    EXPECT_EQ(out.height, 2);
    ASSERT_EQ(out.bytes.size(), kBitmapHeaderSize + 2 * 4);

    struct Field {
        std::size_t offset;
        int size;
        std::uint32_t value;
    };
    for (const auto& f :
         {Field{0, 4, 40}, Field{4, 4, 3}, Field{8, 4, 2}, Field{12, 2, 1}, Field{14, 2, 8}, Field{16, 4, 0},
          Field{20, 4, 0}, Field{24, 4, 0}, Field{28, 4, 0}, Field{32, 4, 0}, Field{36, 4, 0}}) {
        EXPECT_EQ(readLittleEndian(out.bytes, f.offset, f.size), f.value) << "offset " << f.offset;
    }
    const auto bytes = unsignedBytes(out.bytes);
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 40, bytes.begin() + 44),
              (std::vector<unsigned char>{0, 0, 0, 0}));
    EXPECT_EQ(std::vector<unsigned char>(bytes.begin() + 40 + 4 * 255, bytes.begin() + 40 + 4 * 256),
              (std::vector<unsigned char>{0xFF, 0xFF, 0xFF, 0}));
    for (int level = 0; level < 256; ++level) {
        const auto at = static_cast<std::size_t>(40 + 4 * level);
        EXPECT_EQ(
            std::vector<unsigned char>(bytes.begin() + at, bytes.begin() + at + 4),
            (std::vector<unsigned char>{static_cast<unsigned char>(level), static_cast<unsigned char>(level),
                                        static_cast<unsigned char>(level), 0}))
            << level;
    }
    // Bottom row first, each padded to four bytes with zeros.
    EXPECT_EQ(unsignedBytes(out.bytes, kBitmapHeaderSize),
              (std::vector<unsigned char>{1, 0, 2, 0, 255, 0, 1, 0}));
}

TEST(FormatImage, MemoryFormIsTheBareRowsTopRowFirst) {
    const auto out = format(threeByTwo(), false);
    EXPECT_EQ(out.width, 3);
    EXPECT_EQ(out.height, 2);
    EXPECT_EQ(unsignedBytes(out.bytes), (std::vector<unsigned char>{255, 0, 1, 1, 0, 2}));
}

TEST(FormatImage, LandscapeImagesAreTransferredTurnedWithTheirPictureSize) {
    // Stored 3 x 2 becomes a 2 x 3 picture whose first row is the first stored column, bottom up.
    const auto memory = format(threeByTwo(false), false);
    EXPECT_EQ(memory.width, 2);
    EXPECT_EQ(memory.height, 3);
    EXPECT_EQ(unsignedBytes(memory.bytes), (std::vector<unsigned char>{1, 255, 0, 0, 2, 1}));

    const auto native = format(threeByTwo(false), true);
    EXPECT_EQ(readLittleEndian(native.bytes, 4, 4), 2u);
    EXPECT_EQ(readLittleEndian(native.bytes, 8, 4), 3u);
    EXPECT_EQ(unsignedBytes(native.bytes, kBitmapHeaderSize),
              (std::vector<unsigned char>{2, 1, 0, 0, 0, 0, 0, 0, 1, 255, 0, 0}));

    const auto large = pictures::uniform(1000, 800, 257, false);
    large->upright = false;
    const auto big = format(large, true);
    EXPECT_EQ(big.width, 800);
    EXPECT_EQ(big.height, 1000);
    EXPECT_EQ(big.bytes.size(), kBitmapHeaderSize + 1000 * bitmapRowStride(800));
}

TEST(FormatImage, RowsOfWholeWordsAreNotPadded) {
    struct Case {
        int width;
        std::size_t stride;
    };
    for (const auto& c : {Case{1, 4}, Case{4, 4}, Case{5, 8}, Case{8, 8}}) {
        EXPECT_EQ(bitmapRowStride(c.width), c.stride);
        const auto out = format(pictures::uniform(c.width, 3, 65535, false), true);
        EXPECT_EQ(out.bytes.size(), kBitmapHeaderSize + 3 * c.stride) << c.width;
    }
}

TEST(FormatImage, TransfersTheSamePictureAsTheTileShows) {
    auto image = pictures::make(23, 11, pictures::noise(23 * 11, 3), false, true);
    image->contrast = 1.3;
    image->brightness = 4;
    image->gamma = 0.9;
    image->ultraHd = false;
    cv::Mat tile;
    int width = 0, height = 0;
    perform_image_optimization(image, tile, width, height);

    const auto memory = format(image, false);
    ASSERT_EQ(memory.bytes.size(), static_cast<std::size_t>(width * height));
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const auto expected = static_cast<int>(std::lround(tile.at<std::uint16_t>(row, column) / 257.0));
            EXPECT_EQ(static_cast<unsigned char>(memory.bytes[row * width + column]), expected)
                << row << "," << column;
        }
    }
}

TEST(FormatImage, LogsTheAdjustmentValues) {
    auto image = pictures::uniform(2, 2, 5);
    image->contrast = 1.5;
    image->brightness = -2;
    appfiles::startLog();
    format(image, true);
    const auto lines = appfiles::logLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "image parameter values: [1.5, -2, 0.68]");
    EXPECT_EQ(lines.front(), "perform_image_optimization 1");
}

bool anyTiffUnder(const fs::path& folder) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->path().extension() == ".tiff") {
            return true;
        }
    }
    return false;
}

TEST(FormatImage, CompositeSnapshotsAreWrittenOnlyToAFolderTheUserNamed) {
    const fs::path chosen = testenv::tempRoot() / "snapshots";
    const fs::path missing = testenv::tempRoot() / "no-such-folder";
    fs::create_directories(chosen);
    const auto cwd = fs::current_path();
    fs::current_path(testenv::tempRoot());

    struct Case {
        bool composite;
        const char* variable;
        bool written;
    };
    for (const auto& c :
         {Case{true, nullptr, false}, Case{true, "", false}, Case{true, missing.c_str(), false},
          Case{false, chosen.c_str(), false}, Case{true, chosen.c_str(), true}}) {
        if (c.variable != nullptr) {
            setenv(kDebugSnapshotVariable, c.variable, 1);
        } else {
            unsetenv(kDebugSnapshotVariable);
        }
        auto image = pictures::make(3, 2, {65535, 128, 129, 257, 0, 514});
        image->composite = c.composite;
        const auto out = format(image, false);
        EXPECT_EQ(unsignedBytes(out.bytes), (std::vector<unsigned char>{255, 0, 1, 1, 0, 2}));
        EXPECT_FALSE(fs::exists(missing));
        EXPECT_EQ(anyTiffUnder(testenv::tempRoot()), c.written)
            << c.composite << " " << (c.variable ? c.variable : "-");
        if (c.written) {
            const auto wide = cv::imread((chosen / "debug_screenshot4.tiff").string(), cv::IMREAD_UNCHANGED);
            const auto grey = cv::imread((chosen / "debug_screenshot5.tiff").string(), cv::IMREAD_UNCHANGED);
            ASSERT_EQ(wide.type(), CV_16UC1);
            ASSERT_EQ(grey.type(), CV_8UC1);
            EXPECT_EQ(pictures::values(wide), image->pixels);
            EXPECT_EQ(grey.at<unsigned char>(1, 2), 2);
        }
    }
    unsetenv(kDebugSnapshotVariable);
    fs::current_path(cwd);
}

} // namespace
