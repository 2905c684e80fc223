// The source's dialog as the demo reaches it: on the thread of the Qt application object, where it
// lives, from the application's thread.
#pragma once

#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QtGlobal>

#include <functional>
#include <vector>

class QDialog;
class QGraphicsView;
class QTimer;

namespace host {

// Runs f on the thread of the Qt application object, where the source's dialog lives, and waits.
bool onDialogThread(const std::function<void()>& f);
// Only called on the dialog's thread.
QDialog* acquisitionDialog();
bool dialogShown();
// The tile views of the chosen template, in tile order. Only called on the dialog's thread.
std::vector<QGraphicsView*> tileViews(QDialog* dialog);
// What each tile shows: the key of its picture, 0 for an empty tile. A new image in a tile (a
// retake included) is a new picture; a tile drawn again with the same image keeps its key.
std::vector<qint64> tilePictures();
int drawnTiles();

// The connection text the dialog shows, and its lamp.
struct ConnectionShown {
    QString text;
    bool lamp = false;
};
ConnectionShown connectionShown();

// Answers the dialog's questions where they wait: `answer` runs on the dialog's thread on a clock of
// its own, which ticks inside every event loop there, a question's own included. Where the
// application's message loop turns the dialog's events (MSG_PROCESSEVENT), a question's loop runs
// beneath the application's call, and nothing the application does after that call could reach it.
// Lives from construction to destruction, or until the application object goes.
class QuestionAnswerer {
public:
    explicit QuestionAnswerer(std::function<void()> answer);
    ~QuestionAnswerer();
    QuestionAnswerer(const QuestionAnswerer&) = delete;
    QuestionAnswerer& operator=(const QuestionAnswerer&) = delete;

private:
    // A child of the application object, on its thread; read and written only there.
    QPointer<QTimer> clock_;
};

} // namespace host
