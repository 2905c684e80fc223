// What the acquisition dialog does so that no exposure is lost and it stays usable: exposures held
// for want of a free tile and the notice that tells of them, the question before a close would
// leave images behind unsaved, and the dialog's place on a screen that may be smaller than its
// design.
#include "ui/twaindialog.h"

#include "support/log.h"

#include <QtCore/QTimer>
#include <QtGui/QGuiApplication>
#include <QtGui/QScreen>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStyle>
#include <QtWidgets/QVBoxLayout>

#include <algorithm>
#include <vector>

namespace {

const char* const kMessageBoxStyle = "background-color: rgb(255,255,255);";

// Room for a window manager's frame before the window has one to measure.
constexpr int kFrameAllowanceWidth = 16;
constexpr int kFrameAllowanceHeight = 40;

} // namespace

void twaindialog::wrapInScrollArea() {
    const QSize designed = size();
    contentWidget = new QWidget;
    contentWidget->setObjectName("content");
    contentWidget->setFixedSize(designed);
    std::vector<std::pair<QWidget*, bool>> moved;
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget != nullptr && !widget->isWindow()) {
            moved.emplace_back(widget,
                               widget->isHidden() && widget->testAttribute(Qt::WA_WState_ExplicitShowHide));
        }
    }
    for (const auto& [widget, hidden] : moved) {
        const QRect place = widget->geometry();
        widget->setParent(contentWidget);
        widget->setGeometry(place);
        widget->setVisible(!hidden);
    }
    heldNotice = new QLabel(contentWidget);
    heldNotice->setObjectName("heldNotice");
    heldNotice->setGeometry(20, 690, 741, 40);
    heldNotice->setWordWrap(true);
    heldNotice->setStyleSheet("color: rgb(255, 200, 0); font-weight: bold;");
    heldNotice->hide();

    scrollArea = new QScrollArea(this);
    scrollArea->setObjectName("scrollArea");
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setWidget(contentWidget);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scrollArea);
}

void twaindialog::fitToScreen() {
    const QSize designed = contentWidget ? contentWidget->size() : size();
    QScreen* screen = parentWidget() ? parentWidget()->screen() : nullptr;
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        setFixedSize(designed);
        return;
    }
    const QRect area = screen->availableGeometry();
    // The frame as the window manager drew it, once there is one.
    int frameWidth = frameGeometry().width() - geometry().width();
    int frameHeight = frameGeometry().height() - geometry().height();
    if (!isVisible() || (frameWidth == 0 && frameHeight == 0)) {
        frameWidth = std::max(frameWidth, kFrameAllowanceWidth);
        frameHeight = std::max(frameHeight, kFrameAllowanceHeight);
    }
    QSize fitted(std::min(designed.width(), std::max(area.width() - frameWidth, 1)),
                 std::min(designed.height(), std::max(area.height() - frameHeight, 1)));
    // A scroll bar on one side takes room from the other: give it that room where there is some.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    if (fitted.height() < designed.height()) {
        fitted.setWidth(std::min(designed.width() + bar, std::max(area.width() - frameWidth, 1)));
    }
    if (fitted.width() < designed.width()) {
        fitted.setHeight(std::min(designed.height() + bar, std::max(area.height() - frameHeight, 1)));
    }
    setFixedSize(fitted);
    const int x = area.x() + std::max(0, (area.width() - fitted.width() - frameWidth) / 2);
    const int y = area.y() + std::max(0, (area.height() - fitted.height() - frameHeight) / 2);
    move(x, y);
}

void twaindialog::placeHeldExposures() {
    if (!imageHolder->handingOver()) {
        imageHolder->placeHeld(*indexHandler);
    }
    const std::size_t held = imageHolder->heldCount();
    if (heldNotice == nullptr) {
        return;
    }
    if (held == 0 || imageHolder->handingOver()) {
        heldNotice->hide();
        return;
    }
    heldNotice->setText(held == 1
                            ? QString("1 exposure was not placed: every tile holds an image. Select a tile "
                                      "and press Re-take to place it there.")
                            : QString("%1 exposures were not placed: every tile holds an image. Select a "
                                      "tile and press Re-take to place the first of them there.")
                                  .arg(held));
    heldNotice->show();
}

bool twaindialog::confirmClose() {
    if (uiState && uiState->action.load() == UIState::ImagesReady) {
        return true; // Save closes the dialog
    }
    if (tileImages().empty() && imageHolder->heldCount() == 0) {
        return true;
    }
    writeString2("close with unsaved images");
    QMessageBox box(QMessageBox::NoIcon, "Ostra", "Scanned images have not been saved. Close anyway?",
                    QMessageBox::Yes | QMessageBox::No, this, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.setDefaultButton(QMessageBox::No);
    box.setStyleSheet(kMessageBoxStyle);
    box.button(QMessageBox::Yes)->setStyleSheet(kMessageBoxStyle);
    box.button(QMessageBox::No)->setStyleSheet(kMessageBoxStyle);
    box.setModal(true);
    // A question the application's disable cancels answers No; the dialog goes with the disable.
    const bool yes = box.exec() == QMessageBox::Yes;
    writeString2(yes ? "close confirmed" : "close cancelled");
    return yes;
}
