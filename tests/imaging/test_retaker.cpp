#include "imaging/retaker.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(Retaker, HandsOutTilesFirstInFirstOutWithoutDuplicates) {
    Retaker retaker;
    for (const int index : {2, 0, 2, 3, 0}) {
        retaker.addRetake(index);
    }
    EXPECT_EQ(retaker.front(), 2);
    EXPECT_EQ(retaker.takeRetake(), 2);
    retaker.addRetake(2); // once taken, a tile may be queued again
    std::vector<int> taken;
    while (auto index = retaker.takeRetake()) {
        taken.push_back(*index);
    }
    EXPECT_EQ(taken, (std::vector<int>{0, 3, 2}));

    retaker.addRetake(1);
    retaker.reset();
    EXPECT_TRUE(retaker.empty());
    EXPECT_EQ(retaker.front(), std::nullopt);
    retaker.addRetake(1); // reset also forgets which tiles were pending
    EXPECT_EQ(retaker.takeRetake(), 1);
}

} // namespace
