#include "source/ui_questions.h"

#include "support/log.h"
#include "ui/acquisition_dialog_lookup.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>

namespace uiquestions {

namespace {

bool insideAcquisitionDialog(const QWidget* widget) {
    for (const QWidget* at = widget->parentWidget(); at != nullptr; at = at->parentWidget()) {
        if (ui::isAcquisitionDialog(at)) {
            return true;
        }
    }
    return false;
}

bool hasOwnTitle(const QWidget* widget) {
    const QString title = widget->windowTitle();
    return title == QLatin1String("Ostra") || title == QLatin1String("Select Corrections Folder") ||
           title == QLatin1String("Program Information");
}

// The question turns an event loop of its own (exec), unlike the settings dialog, which is only shown.
bool turnsOwnLoop(const QWidget* widget) {
    return qobject_cast<const QMessageBox*>(widget) != nullptr ||
           qobject_cast<const QFileDialog*>(widget) != nullptr;
}

constexpr int kDismissMilliseconds = 20;

void rejectShown(bool anyModal) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && isQuestion(widget, anyModal)) {
            writeString("user interface question cancelled");
            // Queued: the question may be inside its own showing; its loop delivers the call.
            QMetaObject::invokeMethod(static_cast<QDialog*>(widget), &QDialog::reject, Qt::QueuedConnection);
        }
    }
}

// Rejects every question shown, on its own clock while questions give way: a timer fires inside
// every event loop of its thread, a question's own included. (An event filter on the application
// object would see only the objects of the process's first Qt thread.)
class Dismisser : public QObject {
public:
    explicit Dismisser(bool anyModal) : anyModal_(anyModal) {
        QObject::connect(&clock_, &QTimer::timeout, this, [this] { rejectShown(anyModal_); });
        clock_.start(kDismissMilliseconds);
    }

private:
    bool anyModal_;
    QTimer clock_;
};

Dismisser* dismisser = nullptr;

} // namespace

bool isQuestion(const QWidget* widget, bool anyModal) {
    if (widget == nullptr || !widget->isWindow() || ui::isAcquisitionDialog(widget)) {
        return false;
    }
    if (qobject_cast<const QDialog*>(widget) == nullptr) {
        return false;
    }
    return (anyModal && widget->isModal()) || insideAcquisitionDialog(widget) || hasOwnTitle(widget);
}

int openQuestions(bool anyModal) {
    int open = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && turnsOwnLoop(widget) && isQuestion(widget, anyModal)) {
            ++open;
        }
    }
    return open;
}

void startDismissing(bool anyModal) {
    if (QCoreApplication::instance() == nullptr) {
        return;
    }
    rejectShown(anyModal);
    if (dismisser == nullptr) {
        dismisser = new Dismisser(anyModal);
    }
}

void stopDismissing() {
    delete dismisser;
    dismisser = nullptr;
}

bool dismissing() {
    return dismisser != nullptr;
}

} // namespace uiquestions
