// The source's dialog as the demo reaches it.
#include "host/demo_dialog.h"
#include "ui/acquisition_dialog_lookup.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QGraphicsPixmapItem>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QLabel>

#include <algorithm>

namespace host {

// Runs f on the thread of the Qt application object, where the source's dialog lives, and waits.
bool onDialogThread(const std::function<void()>& f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    if (QThread::currentThread() == app->thread()) {
        f();
        return true;
    }
    return QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
}

// Only called on the dialog's thread.
QDialog* acquisitionDialog() {
    return ui::findAcquisitionDialog();
}

bool dialogShown() {
    bool visible = false;
    onDialogThread([&] { visible = acquisitionDialog() != nullptr && acquisitionDialog()->isVisible(); });
    return visible;
}

// The tile views of the chosen template, in tile order. Only called on the dialog's thread.
std::vector<QGraphicsView*> tileViews(QDialog* dialog) {
    std::vector<QGraphicsView*> views;
    QWidget* tiles = dialog ? dialog->findChild<QWidget*>("widget") : nullptr;
    if (tiles != nullptr) {
        for (auto* view : tiles->findChildren<QGraphicsView*>()) {
            if (view->isVisible()) {
                views.push_back(view);
            }
        }
    }
    return views;
}

// What each tile shows: the key of its picture, 0 for an empty tile. A new image in a tile (a
// retake included) is a new picture; a tile drawn again with the same image keeps its key.
std::vector<qint64> tilePictures() {
    std::vector<qint64> pictures;
    onDialogThread([&] {
        for (QGraphicsView* view : tileViews(acquisitionDialog())) {
            qint64 key = 0;
            if (view->scene() != nullptr) {
                for (QGraphicsItem* item : view->scene()->items()) {
                    if (auto* picture = dynamic_cast<QGraphicsPixmapItem*>(item)) {
                        key = picture->pixmap().cacheKey();
                    }
                }
            }
            pictures.push_back(key);
        }
    });
    return pictures;
}

int drawnTiles() {
    const auto pictures = tilePictures();
    return static_cast<int>(
        std::count_if(pictures.begin(), pictures.end(), [](qint64 key) { return key != 0; }));
}

ConnectionShown connectionShown() {
    ConnectionShown shown;
    onDialogThread([&] {
        QDialog* dialog = acquisitionDialog();
        if (auto* text = dialog ? dialog->findChild<QLabel*>("status_text") : nullptr) {
            shown.text = text->text();
        }
        if (QWidget* lamp = dialog ? dialog->findChild<QWidget*>("status_indicator") : nullptr) {
            shown.lamp = lamp->property("on").toBool();
        }
    });
    return shown;
}

QuestionAnswerer::QuestionAnswerer(std::function<void()> answer) {
    constexpr int kTickMilliseconds = 20;
    onDialogThread([this, &answer] {
        clock_ = new QTimer(QCoreApplication::instance());
        QObject::connect(clock_, &QTimer::timeout, clock_, std::move(answer));
        clock_->start(kTickMilliseconds);
    });
}

QuestionAnswerer::~QuestionAnswerer() {
    // Without an application object the clock went with it.
    onDialogThread([this] { delete clock_.data(); });
}

} // namespace host
