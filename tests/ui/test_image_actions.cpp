// The image actions and the dialog's clock: rotate and flip, Re-take, Save with the composite
// capture, auto-save, closing by Esc, and a tick that never runs inside another.
#include "tests/ui/dialog_fixture.h"
#include "ui/template_layouts.h"

#include <QtTest/QSignalSpy>
#include <QtTest/QTest>
#include <QtWidgets/QPushButton>

#include <algorithm>

namespace {

using uitest::DialogTest;

// Rows (a, b, c) and (d, e, f) with a..f = 1..6.
TEST(TurnedImage, MapsTheSamplesAndKeepsWhatBelongsToThePicture) {
    Image original;
    original.width = 3;
    original.height = 2;
    original.pixels = {1, 2, 3, 4, 5, 6};
    original.number = 7;
    original.gamma = 0.9;
    original.rendered = true;
    struct Case {
        ImageTurn turn;
        int width;
        std::vector<std::uint16_t> pixels;
        ImageTurn undo;
    };
    const Case cases[] = {
        {ImageTurn::Rotate, 2, {3, 6, 2, 5, 1, 4}, ImageTurn::RotateCCW},
        {ImageTurn::RotateCCW, 2, {4, 1, 5, 2, 6, 3}, ImageTurn::Rotate},
        {ImageTurn::FlipVertical, 3, {3, 2, 1, 6, 5, 4}, ImageTurn::FlipVertical},
        {ImageTurn::FlipHorizontal, 3, {4, 5, 6, 1, 2, 3}, ImageTurn::FlipHorizontal},
    };
    for (const auto& c : cases) {
        const auto turned = turnedImage(original, c.turn);
        const int name = static_cast<int>(c.turn);
        EXPECT_EQ(turned->width * 10 + turned->height, c.width * 10 + 6 / c.width) << name;
        EXPECT_EQ(turned->pixels, c.pixels) << name;
        EXPECT_EQ(turned->number, 7) << name;
        EXPECT_EQ(turned->gamma, 0.9) << name;
        EXPECT_FALSE(turned->rendered) << name;
        EXPECT_EQ(turnedImage(*turned, c.undo)->pixels, original.pixels) << name;
    }
    const auto twice = turnedImage(*turnedImage(original, ImageTurn::Rotate), ImageTurn::Rotate);
    EXPECT_EQ(twice->pixels, (std::vector<std::uint16_t>{6, 5, 4, 3, 2, 1}));
    // Samples that do not fill the size: an image without samples.
    original.pixels.pop_back();
    EXPECT_TRUE(turnedImage(original, ImageTurn::Rotate)->pixels.empty());
}

class ImageActionsTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        open();
        dialog->show();
    }

    std::shared_ptr<Image> image(std::size_t i) { return imageHolder->imageAt(i); }
    QPushButton* retakeButton() { return dialog->form().retakeButton; }
    // A new series on template `index`, without the question that a template change asks.
    void restartSeries(int index) {
        const auto& tiles = layoutTemplates()[static_cast<std::size_t>(index)].tiles;
        dialog->on_reset(static_cast<unsigned char>(tiles.size()));
        dialog->layout_setup(tiles);
    }
    std::size_t logCount(const std::string& line) {
        const auto log = appfiles::logLines();
        return static_cast<std::size_t>(std::count(log.begin(), log.end(), line));
    }
};

TEST_F(ImageActionsTest, RotateAndFlipButtonsReplaceTheSelectedImage) {
    chooseTemplate(1);
    expose(1000, 3, 2);
    expose(1000, 3, 2);
    image(1)->gamma = 0.9;
    const auto untouched = image(0);
    indexHandler->select_index(1, true);
    struct Case {
        QAbstractButton* button;
        UIState::ActionCode code;
        const char* log;
        int width;
    };
    const auto& form = dialog->form();
    const Case cases[] = {
        {form.rotateButton, UIState::Rotate, "rotating...", 2},
        {form.rotateCCWButton, UIState::RotateCounterClockwise, "rotating ccw...", 3},
        {form.flipVertical, UIState::FlipVertical, "flip vert...", 3},
        {form.flipHorizontal, UIState::FlipHorizontal, "flip horiz...", 3},
    };
    for (const auto& c : cases) {
        appfiles::startLog();
        c.button->click();
        EXPECT_EQ(uiState->action, c.code) << c.log;
        EXPECT_EQ(logCount(c.log), 1u) << c.log;
        EXPECT_EQ(image(1)->width, c.width) << c.log;
        EXPECT_EQ(image(1)->number, 2) << c.log;
        EXPECT_EQ(image(1)->gamma, 0.9) << c.log;
        EXPECT_EQ(image(0), untouched) << c.log;
    }

    // Without a selected image only the action is recorded; a pending save request stays.
    indexHandler->select_index(1, false);
    const auto before = image(1);
    uiState->action = UIState::ImagesReady;
    form.rotateButton->click();
    EXPECT_EQ(uiState->action, UIState::ImagesReady);
    EXPECT_EQ(image(1), before);
}

TEST_F(ImageActionsTest, RetakeServedOrCancelled) {
    struct Case {
        const char* name;
        bool blinkFirst;
        bool cancel;
    };
    const Case cases[] = {
        {"served after the tile blinked", true, false},
        {"served before the first blink", false, false},
        {"cancelled", true, true},
    };
    chooseTemplate(1);
    for (const auto& c : cases) {
        restartSeries(1);
        expose(1000);
        expose(1000);
        indexHandler->select_index(0, true);
        dialog->handleFlicker();
        ASSERT_EQ(dialog->currentRetakeState(), 1) << c.name;
        ASSERT_TRUE(retakeButton()->isEnabled()) << c.name;
        const auto old = image(0);

        retakeButton()->click();
        EXPECT_EQ(uiState->action, UIState::Retake) << c.name;
        EXPECT_EQ(retaker->front(), 0) << c.name;
        EXPECT_EQ(retakeButton()->text(), "Cancel Re-take") << c.name;
        EXPECT_EQ(dialog->currentRetakeState(), 2) << c.name;
        // Tile clicks are refused while the retake waits.
        EXPECT_FALSE(dialog->tileViews()[3]->clickHandler(true)) << c.name;

        if (c.blinkFirst) {
            const bool highlighted = dialog->tileViews()[0]->highlighted;
            dialog->handleFlicker();
            EXPECT_TRUE(dialog->tileViews()[0]->flickering) << c.name;
            EXPECT_NE(dialog->tileViews()[0]->highlighted, highlighted) << c.name << ": the border blinks";
        }
        if (c.cancel) {
            retakeButton()->click();
            EXPECT_TRUE(retaker->empty()) << c.name;
            expose(2000);
            EXPECT_EQ(image(0), old) << c.name;
            EXPECT_EQ(imageHolder->imageCount(), 3u) << c.name;
        } else {
            expose(2000);
            EXPECT_NE(image(0), old) << c.name;
            EXPECT_EQ(image(0)->number, old->number) << c.name;
            EXPECT_EQ(imageHolder->imageCount(), 2u) << c.name;
        }
        dialog->handleFlicker();
        EXPECT_EQ(retakeButton()->text(), "Re-take") << c.name;
        EXPECT_NE(dialog->currentRetakeState(), 2) << c.name;
        EXPECT_FALSE(dialog->tileViews()[0]->flickering) << c.name;
        EXPECT_TRUE(dialog->tileViews()[3]->clickHandler(true)) << c.name << ": tiles can be chosen again";
        // Tile 3 is empty: nothing to retake there.
        dialog->handleFlicker();
        EXPECT_FALSE(retakeButton()->isEnabled()) << c.name;
        EXPECT_EQ(dialog->currentRetakeState(), 0) << c.name;
    }
}

TEST_F(ImageActionsTest, SaveHandsTheImagesOverAndCloses) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    dialog->form().pushButton->click();
    EXPECT_EQ(logCount("No Image found cannot save"), 1u);
    EXPECT_EQ(uiState->action, UIState::Nothing);

    // One tile: the image alone.
    expose();
    dialog->form().pushButton->click();
    EXPECT_EQ(uiState->action, UIState::ImagesReady);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(imageHolder->imageCount(), 1u);
    EXPECT_FALSE(image(0)->composite);
}

TEST_F(ImageActionsTest, SaveOfATemplatePutsTheCaptureOfTheTilesInFront) {
    chooseTemplate(1);
    std::vector<std::uint16_t> ramp(40u * 60u); // a uniform exposure would be drawn black
    for (std::size_t k = 0; k < ramp.size(); ++k) {
        ramp[k] = static_cast<std::uint16_t>(k * 27);
    }
    int width = 40;
    int height = 60;
    imageHolder->addImage(width, height, 16, ramp.data(), std::nullopt, indexHandler);
    expose();
    dialog->handleFlicker();
    const auto first = image(0);

    dialog->form().pushButton->click();
    ASSERT_EQ(imageHolder->imageCount(), 3u);
    EXPECT_EQ(uiState->action, UIState::ImagesReady);
    EXPECT_EQ(image(1), first);
    const auto composite = image(0);
    ASSERT_TRUE(composite->composite);
    EXPECT_FALSE(composite->enhance);
    // The tile area is 741 x 531: three zero columns make the rows a multiple of 4.
    ASSERT_EQ(composite->width, 744);
    ASSERT_EQ(composite->height, 531);
    const auto at = [&](int x, int y) { return composite->pixels.at(static_cast<std::size_t>(y) * 744 + x); };
    bool padded = true;
    bool grey = true;
    for (int y = 0; y < 531; ++y) {
        for (int x = 0; x < 744; ++x) {
            padded = padded && (x < 741 || at(x, y) == 0);
            grey = grey && at(x, y) % 257 == 0;
        }
    }
    EXPECT_TRUE(padded);
    EXPECT_TRUE(grey) << "8-bit grey repeated into 16 bits";
    EXPECT_GT(at(50 + 70, 210 + 35), 0) << "the first tile's picture";
    EXPECT_EQ(at(5, 5), 0);

    // Handed over: the clock stands still.
    appfiles::startLog();
    dialog->handleFlicker();
    EXPECT_EQ(logCount("Flicker Start"), 0u);

    // The application refused them and the dialog is shown again: the images stay, the capture
    // goes, the clock draws again and a new Save makes a new capture.
    uiState->action = UIState::Nothing;
    dialog->show();
    ASSERT_EQ(imageHolder->imageCount(), 2u);
    EXPECT_EQ(image(0), first);
    dialog->handleFlicker();
    EXPECT_EQ(logCount("Flicker Start"), 1u);
    dialog->form().pushButton->click();
    ASSERT_EQ(imageHolder->imageCount(), 3u);
    EXPECT_TRUE(image(0)->composite);
    EXPECT_FALSE(image(1)->composite);
}

TEST_F(ImageActionsTest, AutoSaveRunsOnceWhenTheLastTileIsFilled) {
    dialog->form().autoSaveButton->setChecked(true);
    EXPECT_TRUE(configFile->auto_save_enabled);
    chooseTemplate(1);
    for (int i = 0; i < 3; ++i) {
        expose();
        dialog->handleFlicker();
    }
    EXPECT_EQ(uiState->action, UIState::Nothing);
    expose();
    dialog->handleFlicker();
    EXPECT_EQ(uiState->action, UIState::ImagesReady);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(image(0)->composite);

    // Refused and shown again: the user decides when to save.
    uiState->action = UIState::Nothing;
    dialog->show();
    dialog->handleFlicker();
    dialog->handleFlicker();
    EXPECT_EQ(uiState->action, UIState::Nothing);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(logCount("handle_autosave 2"), 1u);

    // A new series fills the tiles again: saved again.
    restartSeries(0);
    expose();
    dialog->handleFlicker();
    EXPECT_EQ(uiState->action, UIState::ImagesReady);
    EXPECT_EQ(logCount("handle_autosave 2"), 2u);
}

TEST_F(ImageActionsTest, EscRequestsCloseAndEnterInAFieldSavesNothing) {
    QSignalSpy finished(dialog.get(), &QDialog::finished);
    expose();
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
    }

    for (QLineEdit* field : {dialog->form().brightness_value, dialog->form().contrast_value}) {
        field->setFocus();
        QTest::keyClick(field, Qt::Key_Return);
        QTest::keyClick(field, Qt::Key_Enter);
    }
    EXPECT_EQ(uiState->action, UIState::Nothing);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(finished.count(), 0);

    {
        // The image is not saved: the user is asked first.
        uitest::MessageBoxAnswerer yes(QMessageBox::Yes);
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        EXPECT_EQ(yes.shown, 1);
    }
    EXPECT_EQ(uiState->action, UIState::CloseRequested);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(logCount("closeEvent"), 1u);

    // A late exposure does not reach the hidden dialog's clock, nor a late auto-save.
    configFile->auto_save_enabled = true;
    appfiles::startLog();
    dialog->handleFlicker();
    EXPECT_EQ(logCount("Flicker Start"), 0u);
    EXPECT_EQ(uiState->action, UIState::CloseRequested);
}

// The rotate and flip icons show what their buttons do to an upright tile. Their blue parts: the
// arrow head ends a ring that runs counter-clockwise from the top when it sits on the right, and
// clockwise when on the left; a flip's axis runs along the mirror line.
TEST_F(DialogTest, RotateAndFlipIconsShowWhatTheButtonsDo) {
    auto& dialog = open();
    struct Case {
        QAbstractButton* button;
        bool rightHalf;
        bool tall;
    };
    const auto& form = dialog.form();
    const Case cases[] = {
        {form.rotateButton, true, false},
        {form.rotateCCWButton, false, false},
        {form.flipVertical, true, true},
        {form.flipHorizontal, true, false},
    };
    for (const auto& c : cases) {
        const QImage icon = c.button->icon().pixmap(64, 64).toImage();
        const std::string name = c.button->objectName().toStdString();
        QRect blue;
        for (int y = 0; y < icon.height(); ++y) {
            for (int x = 0; x < icon.width(); ++x) {
                const QColor colour = icon.pixelColor(x, y);
                if (colour.alpha() > 200 && colour.blue() > 200 && colour.red() < 150) {
                    blue |= QRect(x, y, 1, 1);
                }
            }
        }
        ASSERT_FALSE(blue.isEmpty()) << name;
        EXPECT_EQ(blue.center().x() >= icon.width() / 2 - 1, c.rightHalf) << name;
        if (c.tall || c.button == form.flipHorizontal) {
            EXPECT_EQ(blue.height() > blue.width(), c.tall) << name;
        } else {
            EXPECT_GT(blue.center().y(), icon.height() / 2) << name << ": the head ends the ring below";
        }
    }
}

// A correction exchange whose box turns a nested event loop, in which the clock fires again.
class NestedLoopCalibration : public CalibrartionHandler {
public:
    std::function<void()> duringPause;
    int pauses = 0;
    int resumes = 0;

    bool acknowledgeStatus() override { return true; }
    bool reinitDevice() override { return false; }
    std::filesystem::path currentWorkFolder() override { return {}; }
    std::optional<std::string> serialNumber() override { return std::nullopt; }
    bool correctionFailed() override { return true; }
    void pauseConnection() override {
        ++pauses;
        duringPause();
    }
    void resumeConnection() override { ++resumes; }
};

TEST_F(DialogTest, ClockTickNeverRunsInsideAnother) {
    auto handler = std::make_shared<NestedLoopCalibration>();
    calibration = handler;
    open();
    handler->duringPause = [this] { dialog->handleFlicker(); };
    expose();
    appfiles::startLog();
    // The exchange is answered: OK, no folder chosen, and no second try.
    uitest::Answerer answerer({{QMessageBox::Ok, {}}, {QMessageBox::NoButton, {}}, {QMessageBox::No, {}}});
    dialog->handleFlicker();
    EXPECT_EQ(handler->pauses, 1);
    EXPECT_EQ(handler->resumes, 1);
    const auto log = appfiles::logLines();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Flicker Start"), 1);
    EXPECT_EQ(std::count(log.begin(), log.end(), "handle_calibration_dialog 1"), 1);
    // The tick carried on after the exchange: the image is drawn.
    EXPECT_TRUE(imageHolder->imageAt(0)->rendered);
}

} // namespace
