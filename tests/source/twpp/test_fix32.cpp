#include "source/twpp/fix32.h"

#include <gtest/gtest.h>

namespace {

using Twpp::Fix32;

TEST(Fix32, RoundsHalfAwayFromZeroIntoWholeAndFraction) {
    struct Case {
        float value;
        TW_INT16 whole;
        TW_UINT16 frac;
    };
    const Case cases[] = {
        {1000.0f, 1000, 0},
        {-1.5f, -2, 32768},
        {0.5f, 0, 32768},
        {1.0f, 1, 0},
        {-0.25f, -1, 49152},
        {0.68f, 0, 44564},
        {0.0f, 0, 0},
        {-1.0f, -1, 0},
        {32767.0f, 32767, 0},
        {1.0f / 131072.0f, 0, 1},
        {-1.0f / 131072.0f, -1, 65535},
    };
    for (const auto& c : cases) {
        const Fix32 fix(c.value);
        EXPECT_EQ(fix.whole(), +c.whole) << c.value;
        EXPECT_EQ(fix.frac(), +c.frac) << c.value;
    }
}

TEST(Fix32, ConvertsBackAndComparesBothHalves) {
    EXPECT_FLOAT_EQ(Fix32(-1.5f).toFloat(), -1.5f);
    EXPECT_FLOAT_EQ(Fix32(1000.0f).toFloat(), 1000.0f);
    EXPECT_EQ(Fix32(2.0f), Fix32(2, 0));
    EXPECT_NE(Fix32(2.0f), Fix32(2, 1));
    const TW_FIX32 raw = Fix32(-1.5f).raw();
    EXPECT_EQ(+raw.Whole, -2);
    EXPECT_EQ(+raw.Frac, 32768);
    EXPECT_EQ(Fix32(raw), Fix32(-1.5f));
}

TEST(Bool, HoldsExactlyZeroOrOne) {
    EXPECT_EQ(Twpp::Bool(true).raw(), 1);
    EXPECT_EQ(Twpp::Bool(false).raw(), 0);
    EXPECT_EQ(Twpp::Bool(TW_UINT16{7}).raw(), 1);
    EXPECT_TRUE(Twpp::Bool(TW_UINT16{0xFFFF}));
}

} // namespace
