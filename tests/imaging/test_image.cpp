#include "imaging/image.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

TEST(ExposureImage, CopiesTheFrameRowByRowAndInvertsEverySample) {
    // Two rows of three, with more data behind the frame that must not be copied.
    const std::vector<unsigned short> raw{0, 65535, 1, 0x8000, 0x1234, 65534, 777, 777};
    const int width = 3, height = 2, depth = 16, number = 7;
    const Image image(width, height, depth, raw.data(), number, false, false);

    const std::vector<std::uint16_t> expected{65535, 0, 65534, 0x7FFF, 0xEDCB, 1};
    EXPECT_EQ(image.pixels, expected);
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);
    EXPECT_EQ(image.depth, 16);
    EXPECT_EQ(image.number, 7);
    EXPECT_FALSE(image.ultraHd);
    EXPECT_EQ(image.contrast, 1.0);
    EXPECT_EQ(image.brightness, 0);
    EXPECT_EQ(image.gamma, 0.68);
    EXPECT_TRUE(image.enhance);
    EXPECT_FALSE(image.rendered);
    EXPECT_FALSE(image.composite);
}

TEST(ExposureImage, OnlyALandscapeTileTurnsTheImage) {
    const unsigned short raw[1] = {5};
    const int one = 1;
    EXPECT_TRUE(Image(one, one, one, raw, one, false, true).upright);
    EXPECT_FALSE(Image(one, one, one, raw, one, true, true).upright);
}

TEST(ExposureImage, RefusesAFrameWithoutPixels) {
    const unsigned short raw[4] = {};
    struct Case {
        int width, height;
        const unsigned short* samples;
    };
    for (const Case c : {Case{2, 2, nullptr}, Case{0, 2, raw}, Case{2, -1, raw}}) {
        const int depth = 16, number = 1;
        EXPECT_THROW(Image(c.width, c.height, depth, c.samples, number, false, true), std::invalid_argument)
            << c.width << "x" << c.height;
    }
}

} // namespace
