// No exposure is lost or lands on another tile's image, and the dialog stays within reach: a series
// walked through retake, Save, exposures while the images are handed over, a full template, a close
// with unsaved images, and a screen smaller than the dialog's design.
#include "tests/ui/dialog_fixture.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtTest/QTest>

#include <vector>

namespace {

using uitest::DialogTest;
using uitest::MessageBoxAnswerer;

const QString kUnsaved = "Scanned images have not been saved. Close anyway?";

std::uint16_t sampleOf(const std::shared_ptr<Image>& image) {
    return image ? static_cast<std::uint16_t>(65535 - image->pixels.front()) : 0;
}

TEST_F(DialogTest, SeriesKeepsEveryExposureOnItsOwnTile) {
    open();
    dialog->show();
    chooseTemplate(1); // Biteswing, four tiles
    expose(100);
    expose(200);
    drawTick();

    // Re-take of tile 1 still waiting when Save is pressed.
    indexHandler->select_index(1, true);
    drawTick();
    ASSERT_EQ(dialog->currentRetakeState(), 1);
    dialog->form().retakeButton->click();
    ASSERT_EQ(retaker->front(), 1);
    dialog->form().pushButton->click();
    ASSERT_EQ(uiState->action, UIState::ImagesReady);
    EXPECT_TRUE(retaker->empty()) << "Save ends the pending retake";
    const auto handedOver = imageHolder->snapshot();
    ASSERT_EQ(handedOver.size(), 3u);
    EXPECT_TRUE(handedOver[0]->composite);

    // An exposure after Save changes nothing that is being handed over, and is not dropped.
    expose(300);
    EXPECT_EQ(imageHolder->snapshot(), handedOver);
    EXPECT_EQ(imageHolder->heldCount(), 1u);

    // The application refuses the images: the dialog shows again and the kept exposure takes the
    // next free tile.
    uiState->action = UIState::Nothing;
    dialog->show();
    drawTick();
    auto tiles = imageHolder->snapshot();
    ASSERT_EQ(tiles.size(), 3u);
    EXPECT_EQ(sampleOf(tiles[0]), 100);
    EXPECT_EQ(sampleOf(tiles[1]), 200);
    EXPECT_EQ(sampleOf(tiles[2]), 300);
    EXPECT_EQ(tiles[2]->number, 3);

    // A full template holds the next exposure and says so; Re-take places it without a new one.
    expose(400);
    expose(500);
    drawTick();
    EXPECT_EQ(imageHolder->heldCount(), 1u);
    ASSERT_NE(dialog->heldNoticeLabel(), nullptr);
    EXPECT_TRUE(dialog->heldNoticeLabel()->isVisible());
    EXPECT_TRUE(dialog->heldNoticeLabel()->text().startsWith("1 exposure was not placed"));
    indexHandler->select_index(0, true);
    drawTick();
    dialog->form().retakeButton->click();
    drawTick();
    tiles = imageHolder->snapshot();
    EXPECT_EQ(sampleOf(tiles[0]), 500);
    EXPECT_EQ(tiles[0]->number, 1);
    EXPECT_EQ(sampleOf(tiles[3]), 400);
    EXPECT_EQ(imageHolder->heldCount(), 0u);
    EXPECT_FALSE(dialog->heldNoticeLabel()->isVisible());

    // Esc with unsaved images asks first; No (the default) keeps the dialog open.
    {
        MessageBoxAnswerer no(QMessageBox::No);
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
        EXPECT_EQ(no.shown, 1);
        EXPECT_EQ(no.text, kUnsaved);
        EXPECT_EQ(no.title, "Ostra");
        EXPECT_EQ(no.icon, QMessageBox::NoIcon);
        EXPECT_EQ(no.defaultButton, QMessageBox::No);
        EXPECT_EQ(no.styleSheet, "background-color: rgb(255,255,255);");
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_NE(uiState->action, UIState::CloseRequested);
    {
        MessageBoxAnswerer yes(QMessageBox::Yes);
        dialog->close();
        EXPECT_EQ(yes.shown, 1);
    }
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(uiState->action, UIState::CloseRequested);
}

TEST_F(DialogTest, CloseWithNothingUnsavedAsksNothingAndTheDialogFitsTheScreen) {
    open();
    dialog->show();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(dialog->frameGeometry()))
        << "dialog " << dialog->frameGeometry().width() << " x " << dialog->frameGeometry().height()
        << " on a screen of " << screen.width() << " x " << screen.height();
    EXPECT_EQ(dialog->content()->size(), QSize(1320, 770)) << "the form keeps its design, scrolled";

    MessageBoxAnswerer none(QMessageBox::Yes);
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(none.shown, 0);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(uiState->action, UIState::CloseRequested);
}

} // namespace
