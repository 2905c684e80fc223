#include "imaging/retaker.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> drain(Retaker& retaker) {
    std::vector<int> taken;
    while (auto index = retaker.takeRetake()) {
        taken.push_back(*index);
    }
    return taken;
}

TEST(Retaker, HandsOutTilesFirstInFirstOutWithoutDuplicates) {
    Retaker retaker;
    EXPECT_TRUE(retaker.empty());
    EXPECT_EQ(retaker.front(), std::nullopt);
    for (const int index : {2, 0, 2, 3, 0}) {
        retaker.addRetake(index);
    }
    EXPECT_EQ(retaker.front(), 2);
    EXPECT_EQ(retaker.takeRetake(), 2);
    // Once taken, a tile may be queued again.
    retaker.addRetake(2);
    EXPECT_EQ(drain(retaker), (std::vector<int>{0, 3, 2}));
    EXPECT_TRUE(retaker.empty());
}

TEST(Retaker, ResetForgetsEveryPendingTile) {
    Retaker retaker;
    retaker.addRetake(1);
    retaker.addRetake(2);
    retaker.reset();
    EXPECT_TRUE(retaker.empty());
    retaker.addRetake(1);
    EXPECT_EQ(drain(retaker), std::vector<int>{1});
}

} // namespace
