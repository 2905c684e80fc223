// The tile views: numbers, selection borders, clicks and the selection handler.
#include "tests/ui/dialog_fixture.h"

#include <QtTest/QTest>
#include <QtWidgets/QPushButton>

namespace {

using uitest::DialogTest;

TEST_F(DialogTest, TilesAreNumberedExceptTheSingleImage) {
    auto& dialog = open();
    dialog.show();
    const auto& views = dialog.tileViews();
    ASSERT_EQ(views.size(), 1u);
    EXPECT_TRUE(views[0]->single);
    EXPECT_FALSE(views[0]->label->isVisible());

    chooseTemplate(1);
    for (int i = 0; i < 4; ++i) {
        const auto& view = *views[i];
        EXPECT_FALSE(view.single) << i;
        EXPECT_TRUE(view.label->isVisible()) << i;
        EXPECT_EQ(view.label->text(), QString::number(i + 1));
        EXPECT_EQ(view.label->parentWidget(), view.parentWidget()) << "the label sits beside the view";
        EXPECT_EQ(view.label->geometry(), QRect(view.pos() + QPoint(7, 2), QSize(20, 20))) << i;
        EXPECT_EQ(view.label->font().pointSize(), 7);
    }

    views[2]->move(300, 400);
    EXPECT_EQ(views[2]->label->pos(), QPoint(307, 402));

    // Back to one tile: tile 0 loses its number again.
    dialog.form().dropdown->setCurrentIndex(0);
    EXPECT_TRUE(views[0]->single);
    EXPECT_FALSE(views[0]->label->isVisible());
    EXPECT_FALSE(views[1]->label->isVisible());
}

TEST_F(DialogTest, SelectionBorderChangesOnlyOnARealChange) {
    auto& dialog = open();
    chooseTemplate(1);
    auto& view = *dialog.tileViews()[1];
    EXPECT_FALSE(view.highlighted);
    EXPECT_EQ(view.styleSheet(), "");

    struct Step {
        bool select;
        bool highlighted;
        QString style;
        std::vector<std::string> log;
    };
    const Step steps[] = {
        {true,
         true,
         "border: 1px solid #97D700;",
         {"applySelected 0", "applySelected 1", "applySelected 2 - 1"}},
        {true, true, "border: 1px solid #97D700;", {"applySelected 0"}},
        {false, false, "", {"applyUnselected 0", "applyUnselected 1 - 1", "applyUnselected 2"}},
        {false, false, "", {"applyUnselected 0"}},
    };
    for (const auto& step : steps) {
        appfiles::startLog();
        step.select ? view.applySelected() : view.applyUnselected();
        EXPECT_EQ(view.highlighted, step.highlighted);
        EXPECT_EQ(view.styleSheet(), step.style);
        EXPECT_EQ(appfiles::logLines(), step.log);
    }
}

TEST_F(DialogTest, ClickingATileSelectsIt) {
    auto& dialog = open();
    dialog.show();
    chooseTemplate(1);
    const auto& views = dialog.tileViews();

    appfiles::startLog();
    QTest::mouseClick(views[2]->viewport(), Qt::LeftButton);
    EXPECT_EQ(indexHandler->selected, 2);
    EXPECT_EQ(indexHandler->previous, 0);
    const auto log = appfiles::logLines();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front(), "mousePressEvent 0 - 2");
    EXPECT_EQ(log.back(), "mousePressEvent 2 - 2");

    // The same tile again stays selected.
    QTest::mouseClick(views[2]->viewport(), Qt::LeftButton);
    EXPECT_EQ(indexHandler->selected, 2);
}

TEST_F(DialogTest, SelectionHandlerUnhighlightsOthersAndOffersRetakeForFilledTiles) {
    auto& dialog = open();
    chooseTemplate(1);
    const auto& views = dialog.tileViews();
    auto* retake = dialog.form().retakeButton;
    expose();
    expose();
    for (const auto& view : views) {
        view->applySelected();
    }

    // Tile 1 holds an image: Re-take is offered, every other tile loses its border.
    indexHandler->onChange(0, 1);
    EXPECT_TRUE(retake->isEnabled());
    EXPECT_EQ(dialog.currentRetakeState(), 1);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(views[i]->highlighted, i == 1) << i;
    }

    // An empty tile after a filled one: nothing to retake there.
    indexHandler->onChange(1, 3);
    EXPECT_FALSE(retake->isEnabled());
    EXPECT_EQ(dialog.currentRetakeState(), 0);
    EXPECT_FALSE(views[1]->highlighted);

    // No selection: no border anywhere, no Re-take.
    views[2]->applySelected();
    indexHandler->onChange(-1, -1);
    EXPECT_FALSE(retake->isEnabled());
    EXPECT_EQ(dialog.currentRetakeState(), 0);
    for (const auto& view : views) {
        EXPECT_FALSE(view->highlighted);
    }

    // The same tile again changes no border.
    views[3]->applySelected();
    indexHandler->onChange(2, 2);
    EXPECT_TRUE(views[3]->highlighted);
}

} // namespace
