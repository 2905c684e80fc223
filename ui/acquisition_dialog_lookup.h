// How a program that loaded the source reaches its acquisition dialog: by the form's object name among the
// top-level windows of the Qt application object. Only on the thread that object lives on.
#pragma once

#include <QtCore/QLatin1String>
#include <QtCore/QTimer>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QMessageBox>

namespace ui {

// The object name the dialog's form gives it.
inline constexpr const char* kAcquisitionDialogName = "twaindialog";

inline bool isAcquisitionDialog(const QWidget* widget) {
    return widget != nullptr && widget->objectName() == QLatin1String(kAcquisitionDialogName);
}

// The acquisition dialog, or null when none exists.
inline QDialog* findAcquisitionDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (isAcquisitionDialog(widget)) {
            return qobject_cast<QDialog*>(widget);
        }
    }
    return nullptr;
}

// Answers Yes to the next question shown (a modal message box) from a timer that `owner` keeps until
// then, as a user who agrees would.
inline void answerNextQuestionYes(QObject* owner) {
    auto* answer = new QTimer(owner);
    QObject::connect(answer, &QTimer::timeout, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr && box->isVisible()) {
            box->button(QMessageBox::Yes)->click();
            answer->deleteLater();
        }
    });
    answer->start(5);
}

} // namespace ui
