// The simulated sensor's picture: repeatable, different from one exposure to the next, with the
// dead strip the driver's masking relies on and the contrast of a radiograph.
#include "sensor-sim/synthetic_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace {

TEST(SyntheticImage, SameSerialAndNumberGiveTheSameSamples) {
    const auto first = sensorsim::syntheticExposure(200, 300, "SN-1", 4);
    EXPECT_EQ(first.size(), 200u * 300u);
    EXPECT_EQ(first, sensorsim::syntheticExposure(200, 300, "SN-1", 4));
    EXPECT_NE(first, sensorsim::syntheticExposure(200, 300, "SN-1", 5));
    EXPECT_NE(first, sensorsim::syntheticExposure(200, 300, "SN-2", 4));
}

TEST(SyntheticImage, OnlyTheDeadStripIsZero) {
    for (std::uint64_t number = 1; number <= 6; ++number) {
        const int width = 300, height = 450;
        const auto samples = sensorsim::syntheticExposure(width, height, "SN-3", number);
        const int strip = sensorsim::deadStripRows(height);
        ASSERT_GE(strip, 2);
        const auto stripStart = samples.begin() + static_cast<std::ptrdiff_t>(height - strip) * width;
        EXPECT_TRUE(std::all_of(stripStart, samples.end(), [](std::uint16_t v) { return v == 0; })) << number;
        EXPECT_TRUE(std::none_of(samples.begin(), stripStart, [](std::uint16_t v) { return v == 0; }))
            << number;
    }
}

// Teeth and bone absorb, air does not: the samples spread over most of the detector's range.
TEST(SyntheticImage, SpansTheRangeOfARadiograph) {
    const int width = 1000, height = 1500;
    const auto samples = sensorsim::syntheticExposure(width, height, "SN-4", 1);
    std::vector<std::uint16_t> used(samples.begin(),
                                    samples.end() - sensorsim::deadStripRows(height) * width);
    std::sort(used.begin(), used.end());
    const auto percentile = [&](double p) { return used[static_cast<std::size_t>(p * (used.size() - 1))]; };
    EXPECT_LT(percentile(0.02), 12000); // enamel and dentine
    EXPECT_GT(percentile(0.98), 30000); // soft tissue and air
    EXPECT_GT(percentile(0.75) - percentile(0.25), 3000);
}

TEST(SyntheticImage, TooSmallGivesNothing) {
    EXPECT_TRUE(sensorsim::syntheticExposure(15, 100, "SN", 1).empty());
    EXPECT_TRUE(sensorsim::syntheticExposure(100, 0, "SN", 1).empty());
    EXPECT_EQ(sensorsim::syntheticExposure(16, 16, "SN", 1).size(), 256u);
}

} // namespace
