// The dialog's questions (message boxes and the folder chooser): each turns an event loop of its own
// on the user-interface thread, with the dialog's code waiting underneath it. When the application
// disables or closes the source, every open question gives way as the user's No or Cancel would,
// and so does every question opened after it until the dialog's code has returned from them all.
// Everything here runs on the user-interface thread.
#pragma once

class QWidget;

namespace uiquestions {

// Whether `widget` is one of the source's questions: a dialog of the acquisition dialog's (or one
// with the source's own titles). With `anyModal` (the source owns the application object) every
// modal dialog except the acquisition dialog itself is.
bool isQuestion(const QWidget* widget, bool anyModal);

// How many questions are shown now; each is an event loop on the stack.
int openQuestions(bool anyModal);

// Rejects every question shown now and, until stopDismissing, every question as soon as it shows.
void startDismissing(bool anyModal);
void stopDismissing();
bool dismissing();

} // namespace uiquestions
