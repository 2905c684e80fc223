// dialog_screenshot FILE: writes the acquisition dialog, rendered offscreen with a full-mouth series,
// to a PNG file (for the README).
#include "tests/ui/dialog_screenshot.h"
#include "ui/my_application.h"

#include <QtCore/QTemporaryDir>
#include <QtGui/QFont>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dialog_screenshot FILE.png\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The dialog writes its log and settings under the application-data folder: keep them apart.
    QTemporaryDir appData;
    if (!appData.isValid()) {
        std::fprintf(stderr, "dialog_screenshot: no temporary folder\n");
        return 1;
    }
    setenv("XDG_DATA_HOME", appData.path().toLocal8Bit().constData(), 1);

    int qtArgc = 0;
    MyApplication application(qtArgc, nullptr);
    // The offscreen platform's default font is larger than a Windows dialog's (8 points); use the
    // Windows size so that texts fit their boxes as they do on a clinic's machine.
    QFont font = QApplication::font();
    font.setPointSize(8);
    QApplication::setFont(font);
    const QImage picture = uitest::renderFullMouthDialog();
    if (picture.isNull() || !picture.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "dialog_screenshot: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
