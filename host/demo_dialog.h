// The source's dialog as the demo reaches it: on the thread of the Qt application object, where it
// lives, from the application's thread.
#pragma once

#include <QtCore/QString>
#include <QtCore/QtGlobal>

#include <functional>
#include <vector>

class QDialog;
class QGraphicsView;

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

} // namespace host
