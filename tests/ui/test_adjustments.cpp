// The adjustment controls: sliders and value fields with their mapping, Reset, the lock and the
// HD / Ultra HD choice.
#include "tests/ui/dialog_fixture.h"

#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QSlider>

namespace {

using uitest::DialogTest;

class AdjustmentTest : public DialogTest {
protected:
    QSlider* slider(const char* name) { return dialog->findChild<QSlider*>(name); }
    QLineEdit* field(const char* name) { return dialog->findChild<QLineEdit*>(name); }
    std::shared_ptr<Image> firstImage() { return imageHolder->imageAt(0); }
};

TEST_F(AdjustmentTest, SlidersAndFieldsMapPositionsValuesAndPercentages) {
    open();
    expose(); // tile 0 is selected and gets the image
    struct Case {
        const char* slider;
        const char* field;
        int position;
        UIState::ActionCode action;
        double value; // given to ChangeData, the image and the presets
        const char* text;
    };
    const Case cases[] = {
        {"contrastSlider", "contrast_value", 150, UIState::ContrastChanged, 3.0, "100"},
        {"contrastSlider", "contrast_value", 1, UIState::ContrastChanged, 0.02, "1"},
        {"contrastSlider", "contrast_value", 53, UIState::ContrastChanged, 1.06, "35"}, // stays at 53
        {"brightnessSlider", "brightness_value", 0, UIState::BrightnessChanged, -50, "0"},
        {"brightnessSlider", "brightness_value", 180, UIState::BrightnessChanged, 130, "100"},
        {"gammaSlider", "gamma_value", 200, UIState::GammaChanged, 2.0, "100"},
        {"gammaSlider", "gamma_value", 69, UIState::GammaChanged, 0.69, "35"},
    };
    for (const auto& c : cases) {
        firstImage()->rendered = true;
        configFile->presetsChanged = false;
        slider(c.slider)->setValue(c.position);
        EXPECT_EQ(slider(c.slider)->value(), c.position) << c.slider << " " << c.position;
        EXPECT_EQ(field(c.field)->text(), c.text) << c.slider << " " << c.position;
        EXPECT_EQ(uiState->action.load(), c.action);
        const auto image = firstImage();
        const ImagePreset& presets = configFile->image_presets;
        if (c.action == UIState::ContrastChanged) {
            EXPECT_DOUBLE_EQ(*changeData->contrast, c.value);
            EXPECT_DOUBLE_EQ(image->contrast, c.value);
            EXPECT_DOUBLE_EQ(presets.contrast, c.value);
        } else if (c.action == UIState::BrightnessChanged) {
            EXPECT_EQ(*changeData->brightness, c.value);
            EXPECT_EQ(image->brightness, c.value);
            EXPECT_EQ(presets.brightness, c.value);
        } else {
            EXPECT_DOUBLE_EQ(*changeData->gamma, c.value);
            EXPECT_DOUBLE_EQ(image->gamma, c.value);
            EXPECT_DOUBLE_EQ(presets.gamma, c.value);
        }
        EXPECT_FALSE(image->rendered) << c.slider;
        EXPECT_TRUE(configFile->presetsChanged) << c.slider;
    }
    const auto log = appfiles::logLines();
    for (const char* text :
         {"Contrast Change...", "ContrastChange valid index", "ContrastChange Finish", "Brightness Change...",
          "BrightnessChange valid index", "BrightnessChange Finish", "Gamma Change...",
          "GammaChange valid index", "GammaChange Finish"}) {
        EXPECT_NE(
            std::find_if(log.begin(), log.end(),
                         [text](const std::string& line) { return line.find(text) != std::string::npos; }),
            log.end())
            << text;
    }
}

TEST_F(AdjustmentTest, FieldsClampAndMoveTheirSliders) {
    open();
    struct Case {
        const char* field;
        const char* slider;
        const char* text;
        const char* shown; // the field afterwards
        int position;
    };
    const Case cases[] = {
        {"contrast_value", "contrastSlider", "100", "100", 150},
        {"contrast_value", "contrastSlider", "0", "1", 1}, // the slider's minimum, shown back
        {"contrast_value", "contrastSlider", "250", "100", 150},
        {"brightness_value", "brightnessSlider", "-7", "0", 0},
        {"brightness_value", "brightnessSlider", "50", "50", 90},
        {"gamma_value", "gammaSlider", "x", "0", 0}, // not a number counts as 0
        {"gamma_value", "gammaSlider", "34", "34", 68},
        {"gamma_value", "gammaSlider", "nan", "0", 0},
        {"gamma_value", "gammaSlider", "34", "34", 68},
    };
    for (const auto& c : cases) {
        field(c.field)->setText(c.text);
        EXPECT_EQ(slider(c.slider)->value(), c.position) << c.field << " " << c.text;
        EXPECT_EQ(field(c.field)->text(), c.shown) << c.field << " " << c.text;
    }
}

TEST_F(AdjustmentTest, StartAndResetKeepTheDefaultsExactly) {
    open();
    // No drift at start: contrast 1.0 stays 1.0 (the field "33" is what position 50 shows).
    EXPECT_EQ(slider("contrastSlider")->value(), 50);
    EXPECT_DOUBLE_EQ(configFile->image_presets.contrast, 1.0);
    EXPECT_FALSE(changeData->contrast && *changeData->contrast != 1.0);

    expose();
    slider("contrastSlider")->setValue(120);
    slider("brightnessSlider")->setValue(10);
    slider("gammaSlider")->setValue(150);
    firstImage()->rendered = true;
    uiState->action = UIState::Nothing;
    dialog->findChild<QPushButton*>("contrastBrightnessReset")->click();

    EXPECT_EQ(uiState->action.load(), UIState::AdjustmentsReset);
    EXPECT_EQ(slider("contrastSlider")->value(), 50);
    EXPECT_EQ(slider("brightnessSlider")->value(), 50);
    EXPECT_EQ(slider("gammaSlider")->value(), 68);
    EXPECT_EQ(field("contrast_value")->text(), "33");
    EXPECT_DOUBLE_EQ(*changeData->contrast, 1.0);
    EXPECT_EQ(*changeData->brightness, 0);
    EXPECT_DOUBLE_EQ(*changeData->gamma, 0.68);
    const auto image = firstImage();
    EXPECT_DOUBLE_EQ(image->contrast, 1.0);
    EXPECT_EQ(image->brightness, 0);
    EXPECT_DOUBLE_EQ(image->gamma, 0.68);
    EXPECT_FALSE(image->rendered);
    EXPECT_DOUBLE_EQ(configFile->image_presets.contrast, 1.0);
    EXPECT_EQ(configFile->image_presets.brightness, 0);
    EXPECT_DOUBLE_EQ(configFile->image_presets.gamma, 0.68);
    EXPECT_FALSE(configFile->presetsChanged);
}

TEST_F(AdjustmentTest, WithoutASelectedImageOnlyTheRecordsChange) {
    open();
    expose();
    indexHandler->selected = -1;
    firstImage()->rendered = true;
    slider("contrastSlider")->setValue(100);
    EXPECT_DOUBLE_EQ(*changeData->contrast, 2.0);
    EXPECT_DOUBLE_EQ(configFile->image_presets.contrast, 2.0);
    EXPECT_DOUBLE_EQ(firstImage()->contrast, 1.0);
    EXPECT_TRUE(firstImage()->rendered);
}

TEST_F(AdjustmentTest, LockDisablesExactlyTheAdjustmentControlsAndIsStored) {
    open();
    auto* lock = dialog->findChild<QPushButton*>("lockImageParams");
    for (const bool locked : {true, false}) {
        configFile->presetsChanged = false;
        lock->click();
        EXPECT_EQ(configFile->image_presets_locked, locked);
        EXPECT_TRUE(configFile->presetsChanged);
        for (const char* name :
             {"brightnessSlider", "contrastSlider", "gammaSlider", "contrastBrightnessReset",
              "brightness_value", "contrast_value", "gamma_value"}) {
            EXPECT_EQ(dialog->findChild<QWidget*>(name)->isEnabled(), !locked) << name;
        }
        for (const char* name : {"lockImageParams", "HD", "UltraHD", "pushButton", "autoSaveButton"}) {
            EXPECT_TRUE(dialog->findChild<QWidget*>(name)->isEnabled()) << name;
        }
    }
}

TEST_F(AdjustmentTest, HdChoiceIsStoredAndRedrawsTheTiles) {
    open();
    expose();
    drawTick();
    ASSERT_TRUE(firstImage()->rendered);
    struct Case {
        const char* button;
        bool ultraHd;
    };
    for (const auto& c : {Case{"HD", false}, Case{"UltraHD", true}}) {
        dialog->findChild<QRadioButton*>(c.button)->click();
        EXPECT_EQ(configFile->current_image_mode, c.ultraHd ? 1 : 0) << c.button;
        EXPECT_EQ(imageHolder->ultraHd(), c.ultraHd) << c.button;
        EXPECT_EQ(firstImage()->ultraHd, c.ultraHd) << c.button;
        EXPECT_FALSE(firstImage()->rendered) << c.button << ": the tile is drawn again";
        drawTick();
        EXPECT_TRUE(firstImage()->rendered) << c.button;
    }
}

TEST_F(AdjustmentTest, WithoutARecordTheControlsFollowTheStoredSettings) {
    appfiles::writeConfig(R"({"auto_save_enabled":true,"current_image_mode":0,"image_presets_locked":true})");
    configFile = nullptr;
    imageHolder->setUltraHd(true);
    open();
    EXPECT_TRUE(dialog->findChild<QRadioButton*>("HD")->isChecked());
    EXPECT_FALSE(imageHolder->ultraHd());
    EXPECT_TRUE(dialog->findChild<QRadioButton*>("autoSaveButton")->isChecked());
    EXPECT_FALSE(slider("contrastSlider")->isEnabled());

    appfiles::writeConfig(R"({"current_image_mode":1})");
    imageHolder->setUltraHd(false);
    open();
    EXPECT_TRUE(dialog->findChild<QRadioButton*>("UltraHD")->isChecked());
    EXPECT_TRUE(imageHolder->ultraHd());
}

TEST_F(AdjustmentTest, DrawnPictureFitsItsTile) {
    open();
    expose();
    drawTick();
    QGraphicsView* tile = dialog->tileViews()[0].get();
    ASSERT_NE(tile->scene(), nullptr);
    const QRect shown = tile->mapFromScene(tile->scene()->sceneRect()).boundingRect();
    EXPECT_TRUE(tile->viewport()->rect().contains(shown))
        << shown.width() << "x" << shown.height() << " in " << tile->viewport()->width() << "x"
        << tile->viewport()->height();
}

} // namespace
