#include "imaging/image.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>
#include <vector>

namespace {

TEST(ExposureImage, CopiesTheFrameRowByRowAndInvertsEverySample) {
    // Two rows of three, with more data behind the frame that must not be copied.
    const std::vector<unsigned short> raw{0, 65535, 1, 0x8000, 0x1234, 65534, 777, 777};
    const int width = 3, height = 2, depth = 16, number = 7;
    const Image portrait(width, height, depth, raw.data(), number, false, false);
    EXPECT_EQ(portrait.pixels, (std::vector<std::uint16_t>{65535, 0, 65534, 0x7FFF, 0xEDCB, 1}));
    EXPECT_EQ(std::tie(portrait.width, portrait.height, portrait.depth, portrait.number),
              std::tie(width, height, depth, number));
    EXPECT_TRUE(portrait.upright);
    EXPECT_FALSE(portrait.ultraHd);

    const Image landscape(width, height, depth, raw.data(), number, true, true);
    EXPECT_EQ(landscape.pixels, portrait.pixels) << "stored as delivered, turned only when shown";
    EXPECT_FALSE(landscape.upright);
    EXPECT_TRUE(landscape.ultraHd);
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
