#include "imaging/index_handler.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>

namespace {

TEST(IndexHandler, SelectIndexFollowsClicksAndForcedSelections) {
    struct Case {
        signed char before, index;
        bool force;
        signed char selected, previous;
    };
    // `previous` is 9 before each call, so that "unchanged" is visible.
    const Case cases[] = {
        {3, 3, false, -1, 3}, // a second click on the selected tile deselects it
        {3, 2, false, 3, 9},  // a click elsewhere changes nothing
        {3, 2, true, 2, 3},   // a forced selection moves it
        {-1, -1, false, -1, -1},
    };
    for (const Case& c : cases) {
        IndexHandler handler;
        handler.selected = c.before;
        handler.previous = 9;
        handler.select_index(c.index, c.force);
        EXPECT_EQ(handler.selected, c.selected) << int(c.before) << " " << int(c.index) << " " << c.force;
        EXPECT_EQ(handler.previous, c.previous) << int(c.before) << " " << int(c.index) << " " << c.force;
    }
}

TEST(IndexHandler, SetSelectedIgnoresTilesPastTheTemplate) {
    EXPECT_EQ(IndexHandler().current().upperLimit, 1);
    // 200 is past every template even though it reads as negative in a signed byte.
    for (const int index : {0, 3, 4, 127, 200, 255}) {
        IndexHandler handler;
        handler.reset(4);
        handler.select_index(1, true);
        handler.set_selected(static_cast<unsigned char>(index));
        const auto now = handler.current();
        EXPECT_EQ(now.selected, index < 4 ? index : 1) << index;
        EXPECT_EQ(now.previous, index < 4 ? 1 : -1) << index;
    }
}

TEST(IndexHandler, LogsEveryCallWithItsNumbers) {
    appfiles::startLog();
    IndexHandler handler;
    handler.reset(4);
    handler.set_selected(200);
    handler.set_selected(2);
    handler.select_index(-1, false);
    const std::vector<std::string> expected{
        "setSelected index 200 upperLimit: 4",
        "setSelected index 2 upperLimit: 4",
        "selected index 2 upperLimit: 4",
        "selected index -1 upperLimit: 4",
    };
    EXPECT_EQ(appfiles::logLines(), expected);
}

} // namespace
