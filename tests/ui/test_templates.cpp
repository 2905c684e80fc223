// The dental series templates: their tiles, the template change with its confirmation, and the
// switch between template mode and single-image mode.
#include "tests/ui/dialog_fixture.h"

#include "ui/template_layouts.h"

#include <QtWidgets/QComboBox>
#include <QtWidgets/QGraphicsScene>

namespace {

using uitest::DialogTest;
using uitest::MessageBoxAnswerer;

struct Tile {
    int x, y, width, height;
    bool vertical;
};

std::vector<Tile> row(int y, std::initializer_list<int> xs, int width, int height, bool vertical) {
    std::vector<Tile> tiles;
    for (int x : xs) {
        tiles.push_back({x, y, width, height, vertical});
    }
    return tiles;
}

std::vector<Tile> join(std::initializer_list<std::vector<Tile>> parts) {
    std::vector<Tile> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

const std::vector<Tile> kFullMouthLandscapes = {
    {10, 170, 131, 71, false},  {10, 300, 131, 71, false},  {600, 170, 131, 71, false},
    {600, 300, 131, 71, false}, {460, 70, 131, 71, false},  {600, 70, 131, 71, false},
    {460, 410, 131, 71, false}, {600, 410, 131, 71, false}, {10, 70, 131, 71, false},
    {150, 70, 131, 71, false},  {10, 410, 131, 71, false},  {150, 410, 131, 71, false}};

struct Template {
    const char* name;
    std::vector<Tile> tiles;
};

const std::vector<Template>& expectedTemplates() {
    static const std::vector<Template> templates = {
        {"Single Image", {{250, 75, 250, 375, true}}},
        {"Biteswing", row(210, {50, 210, 370, 530}, 141, 71, false)},
        {"Checkup", join({row(130, {260, 370}, 91, 121, true), row(320, {320}, 91, 121, true),
                          row(270, {10, 150, 440, 580}, 131, 71, false)})},
        {"Endo Horizontal", join({row(110, {10, 150, 290, 430, 570}, 131, 71, false),
                                  row(200, {10, 150, 290, 430, 570}, 131, 71, false),
                                  row(300, {10, 150, 290, 430, 570}, 131, 71, false)})},
        {"Full Mouth 18", join({row(150, {230, 330, 430}, 91, 121, true),
                                row(280, {230, 330, 430}, 91, 121, true), kFullMouthLandscapes})},
        {"Full Mouth 21", join({row(150, {150, 240, 330, 420, 510}, 81, 121, true),
                                row(280, {190, 280, 370, 460}, 81, 121, true), kFullMouthLandscapes})},
        {"Vertical Endo", join({row(130, {50, 160, 270, 380, 490, 600}, 101, 141, true),
                                row(290, {50, 160, 270, 380, 490, 600}, 101, 141, true)})},
    };
    return templates;
}

TEST_F(DialogTest, EveryTemplateShowsItsTilesInPlace) {
    const std::size_t counts[] = {1, 4, 7, 15, 18, 21, 12};
    auto& dialog = open();
    dialog.set_template_mode();
    const auto& expected = expectedTemplates();
    ASSERT_EQ(layoutTemplates().size(), expected.size());
    // Largest first, so that every later template hides tiles of an earlier one.
    for (int index : {5, 4, 3, 6, 2, 1, 0}) {
        const Template& t = expected[index];
        ASSERT_EQ(t.tiles.size(), counts[index]) << t.name;
        EXPECT_EQ(layoutTemplates()[index].name, t.name);
        dialog.form().dropdown->setCurrentIndex(index);
        EXPECT_EQ(dialog.currentTemplate(), index) << t.name;
        EXPECT_EQ(indexHandler->upperLimit, static_cast<int>(t.tiles.size())) << t.name;
        const auto layouts = imageHolder->layouts();
        ASSERT_EQ(layouts.size(), t.tiles.size()) << t.name;

        const auto& views = dialog.tileViews();
        ASSERT_EQ(views.size(), 21u) << "views are only ever added";
        for (std::size_t i = 0; i < views.size(); ++i) {
            const auto& view = *views[i];
            if (i >= t.tiles.size()) {
                EXPECT_TRUE(view.isHidden()) << t.name << " tile " << i;
                EXPECT_TRUE(view.label->isHidden()) << t.name << " tile " << i;
                continue;
            }
            const Tile& tile = t.tiles[i];
            EXPECT_EQ(layouts[i], (GraphicLayout{tile.x, tile.y, tile.width, tile.height, tile.vertical}))
                << t.name << " tile " << i;
            EXPECT_FALSE(view.isHidden()) << t.name << " tile " << i;
            EXPECT_EQ(view.geometry(), QRect(tile.x, tile.y, tile.width, tile.height))
                << t.name << " tile " << i;
            EXPECT_EQ(view.label->isHidden(), t.tiles.size() == 1) << t.name << " tile " << i;
        }
        EXPECT_EQ(indexHandler->selected, 0) << t.name;
        EXPECT_TRUE(views[0]->highlighted) << t.name;
    }
}

TEST_F(DialogTest, ASmallerTemplateHidesAndEmptiesTheTilesBeyondIt) {
    auto& dialog = open();
    chooseTemplate(4);
    for (int i = 0; i < 3; ++i) {
        expose();
    }
    drawTick();
    const auto& views = dialog.tileViews();
    ASSERT_NE(views[1]->scene(), nullptr);
    ASSERT_FALSE(views[1]->scene()->items().isEmpty());

    MessageBoxAnswerer answer(QMessageBox::Yes);
    dialog.form().dropdown->setCurrentIndex(1);
    EXPECT_EQ(answer.shown, 1);
    EXPECT_EQ(imageHolder->imageCount(), 0u);
    for (std::size_t i = 0; i < views.size(); ++i) {
        EXPECT_EQ(views[i]->scene(), nullptr) << "the reset deletes every tile's scene, tile " << i;
        EXPECT_EQ(views[i]->isHidden(), i >= 4) << i;
    }
    EXPECT_TRUE(dialog.form().previewGraphicsView->scene()->items().isEmpty());
}

TEST_F(DialogTest, TemplateChangeAsksOnlyWhenImagesWouldBeLost) {
    struct Case {
        const char* name;
        int images;
        int choose;
        QMessageBox::StandardButton answer;
        int shown;
        int templateAfter;
        std::size_t imagesAfter;
    };
    const Case cases[] = {
        {"no image: no question", 0, 2, QMessageBox::Yes, 0, 2, 0},
        {"same template: nothing at all", 2, 1, QMessageBox::Yes, 0, 1, 2},
        {"answered No: nothing changes", 1, 3, QMessageBox::No, 1, 1, 1},
        {"closed: same as No", 1, 3, QMessageBox::NoButton, 1, 1, 1},
        {"answered Yes: images erased", 2, 3, QMessageBox::Yes, 1, 3, 0},
    };
    for (const auto& c : cases) {
        imageHolder->resetImages();
        auto& dialog = open();
        chooseTemplate(1);
        for (int i = 0; i < c.images; ++i) {
            expose();
        }
        MessageBoxAnswerer answer(c.answer);
        dialog.form().dropdown->setCurrentIndex(c.choose);
        EXPECT_EQ(answer.shown, c.shown) << c.name;
        EXPECT_EQ(dialog.currentTemplate(), c.templateAfter) << c.name;
        EXPECT_EQ(dialog.form().dropdown->currentIndex(), c.templateAfter) << c.name;
        EXPECT_EQ(imageHolder->imageCount(), c.imagesAfter) << c.name;
        EXPECT_EQ(imageHolder->layouts().size(), layoutTemplates()[c.templateAfter].tiles.size()) << c.name;
        if (c.shown) {
            EXPECT_EQ(answer.title, "Ostra") << c.name;
            EXPECT_EQ(answer.text, "Are you sure you wish to change layous? Doing so will erase scanned "
                                   "images. Do you wish to proceed?")
                << c.name;
            EXPECT_EQ(answer.icon, QMessageBox::NoIcon) << c.name;
            EXPECT_EQ(answer.defaultButton, QMessageBox::No) << c.name;
            EXPECT_EQ(answer.styleSheet, "background-color: rgb(255,255,255);") << c.name;
        }
    }
}

TEST_F(DialogTest, SingleModeResetsToOneTileAndTemplateModeShowsTheChooser) {
    auto& dialog = open();
    EXPECT_FALSE(dialog.isTemplateMode());
    EXPECT_TRUE(dialog.form().dropdown->isHidden());

    dialog.set_template_mode();
    EXPECT_TRUE(dialog.isTemplateMode());
    EXPECT_FALSE(dialog.form().dropdown->isHidden());
    EXPECT_TRUE(configFile->enable_template_mode);

    dialog.form().dropdown->setCurrentIndex(1);
    expose();
    dialog.set_single_mode();
    EXPECT_FALSE(dialog.isTemplateMode());
    EXPECT_TRUE(dialog.form().dropdown->isHidden());
    EXPECT_FALSE(configFile->enable_template_mode);
    EXPECT_EQ(dialog.form().dropdown->currentIndex(), 0);
    EXPECT_EQ(dialog.currentTemplate(), 0);
    EXPECT_EQ(imageHolder->layouts().size(), 1u);
    EXPECT_EQ(imageHolder->imageCount(), 0u);
    EXPECT_EQ(indexHandler->upperLimit, 1);
    EXPECT_EQ(indexHandler->selected, 0);

    // Already single: the image stays.
    expose();
    dialog.set_template_mode();
    dialog.set_single_mode();
    EXPECT_EQ(imageHolder->imageCount(), 1u);
}

} // namespace
