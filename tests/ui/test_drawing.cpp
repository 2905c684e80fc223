// Drawing exposures into the tiles and the preview as the clock does it, and the rendered dialog.
#include "tests/ui/dialog_fixture.h"
#include "tests/ui/dialog_screenshot.h"

#include <QtWidgets/QGraphicsPixmapItem>
#include <QtWidgets/QGraphicsScene>

namespace {

using uitest::DialogTest;

// The picture a view shows, or a null pixmap.
QPixmap shown(QGraphicsView* view) {
    if (!view->scene()) {
        return QPixmap();
    }
    for (QGraphicsItem* item : view->scene()->items()) {
        if (auto* picture = dynamic_cast<QGraphicsPixmapItem*>(item)) {
            return picture->pixmap();
        }
    }
    return QPixmap();
}

class DrawingTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        open();
    }

    QGraphicsView* preview() { return dialog->form().previewGraphicsView; }
    std::shared_ptr<Image> image(std::size_t i) { return imageHolder->imageAt(i); }
};

TEST_F(DrawingTest, PreviewFollowsTheExposuresAndTheSelection) {
    chooseTemplate(1);
    struct Step {
        const char* name;
        std::function<void()> act;
        int previewTile;
        int selected;
    };
    const Step steps[] = {
        {"nothing stored: nothing shown", [] {}, -1, 0},
        {"first exposure: shown once the selection moved on", [&] { expose(); }, 0, 1},
        {"it stays while the next tile waits", [] {}, 0, 1},
        {"second exposure", [&] { expose(); }, 1, 2},
        {"third exposure", [&] { expose(); }, 2, 3},
        // The last tile keeps the selection: its own image is shown.
        {"last exposure", [&] { expose(); }, 3, 3},
        {"a filled tile chosen", [&] { indexHandler->select_index(1, true); }, 1, 1},
        {"the same tile again", [&] { indexHandler->select_index(1, true); }, 1, 1},
        {"nothing selected: cleared", [&] { indexHandler->select_index(1, false); }, -1, -1},
    };
    for (const auto& step : steps) {
        step.act();
        drawTick();
        EXPECT_EQ(indexHandler->selected, step.selected) << step.name;
        EXPECT_EQ(dialog->previewTile(), step.previewTile) << step.name;
        EXPECT_EQ(shown(preview()).isNull(), step.previewTile == -1) << step.name;
        // Every stored image is drawn in its tile by the end of the tick.
        for (std::size_t i = 0; i < imageHolder->imageCount(); ++i) {
            EXPECT_TRUE(image(i)->rendered) << step.name << " image " << i;
            EXPECT_FALSE(shown(dialog->tileViews()[i].get()).isNull()) << step.name << " tile " << i;
        }
    }
}

TEST_F(DrawingTest, EmptyTileAfterAFilledOneClearsThePreview) {
    chooseTemplate(1);
    expose();
    expose();
    indexHandler->select_index(1, true);
    drawTick();
    EXPECT_EQ(dialog->previewTile(), 1);
    indexHandler->select_index(3, true);
    drawTick();
    EXPECT_EQ(dialog->previewTile(), -1);
}

TEST_F(DrawingTest, SelectedImageIsRedrawnOnEveryTick) {
    expose();
    drawTick();
    appfiles::startLog();
    drawTick();
    EXPECT_TRUE(image(0)->rendered);
    EXPECT_EQ(preview()->scene()->items().size(), 1);
    EXPECT_EQ(dialog->tileViews()[0]->scene()->items().size(), 1);
    const auto log = appfiles::logLines();
    EXPECT_EQ(std::count(log.begin(), log.end(), "old scene"), 2) << "the preview and the tile";
    EXPECT_EQ(std::count(log.begin(), log.end(), "CCCndition 2 met"), 1);
    // Same picture, not optimized again.
    EXPECT_EQ(std::count(log.begin(), log.end(), "perform_image_optimization 1"), 0);
}

TEST_F(DrawingTest, DrawingTurnsImagesOfLandscapeTilesAndTakesThePresets) {
    configFile->image_presets = {1.4, 12, 0.9};
    chooseTemplate(2); // Checkup: three portrait tiles, then landscape ones.
    for (int i = 0; i < 4; ++i) {
        expose(1000, 40, 60);
    }
    // Exposures are stored as delivered and turned when shown: mark the landscape one upright as
    // an image created upright would be.
    image(3)->upright = true;
    image(3)->rendered = false;
    drawTick();
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(image(i)->upright) << i;
    }
    EXPECT_FALSE(image(3)->upright);
    const QPixmap landscape = shown(dialog->tileViews()[3].get());
    EXPECT_GT(landscape.width(), landscape.height()) << "a 40 x 60 exposure shown turned";
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(image(i)->contrast, 1.4) << i;
        EXPECT_EQ(image(i)->brightness, 12) << i;
        EXPECT_EQ(image(i)->gamma, 0.9) << i;
    }
}

TEST_F(DrawingTest, CompositeInFrontIsNotDrawnAndTheImagesKeepTheirOwnTiles) {
    configFile->image_presets = {1.4, 12, 0.9};
    chooseTemplate(2); // Checkup: three portrait tiles, then landscape ones.
    for (int i = 0; i < 4; ++i) {
        expose();
    }
    drawTick();
    auto composite = std::make_shared<Image>();
    composite->width = 744;
    composite->height = 531;
    composite->pixels.assign(744u * 531u, 30000);
    composite->composite = true;
    composite->enhance = false;
    imageHolder->pushFront(composite);
    for (std::size_t i = 1; i < 5; ++i) {
        image(i)->rendered = false;
    }
    indexHandler->select_index(2, true);
    drawTick();
    // The composite belongs to no tile; each image is drawn in its own tile, so the portrait image
    // of tile 2 is not turned by the landscape layout of tile 3.
    EXPECT_FALSE(composite->rendered);
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_TRUE(image(i)->rendered) << i;
        EXPECT_EQ(image(i)->upright, i < 4) << i;
    }
    EXPECT_EQ(dialog->previewTile(), 2);

    // Drawing a composite anywhere keeps its own values: it shows the tiles already adjusted.
    dialog->showImage(preview(), imageHolder->layouts()[0], composite, configFile);
    EXPECT_EQ(composite->contrast, 1.0);
    EXPECT_EQ(composite->brightness, 0);
    EXPECT_EQ(composite->gamma, 0.68);
    EXPECT_TRUE(composite->upright);
}

TEST_F(DrawingTest, ImageWithoutSamplesShowsAnEmptyTile) {
    expose();
    imageHolder->replaceImage(0, std::make_shared<Image>());
    drawTick();
    drawTick();
    EXPECT_TRUE(shown(dialog->tileViews()[0].get()).isNull());
    const auto log = appfiles::logLines();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.rfind("exception: ", 0) == 0; }),
              1)
        << "logged once, not on every tick";
}

TEST_F(DialogTest, RenderedDialogShowsTheFullMouthSeries) {
    uitest::application();
    const QImage picture = uitest::renderFullMouthDialog();
    ASSERT_EQ(picture.size() / picture.devicePixelRatio(), QSize(1320, 770));
    const auto grey = [&](int x, int y) { return qGray(picture.pixel(x, y)); };
    // Preview (900, 100, 300 x 450) and the tile of tile 5 (tile area at 20, 70; tile at 330, 280)
    // hold pictures; the space between tiles stays black.
    EXPECT_GT(grey(1050, 300), 0);
    EXPECT_GT(grey(20 + 330 + 45, 70 + 280 + 60), 0);
    EXPECT_EQ(grey(20 + 5, 70 + 5), 0);
    // The selected tile's green border.
    EXPECT_EQ(QColor(picture.pixel(20 + 330, 70 + 280 + 60)), QColor("#97D700"));
}

} // namespace
