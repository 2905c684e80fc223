// What the parts of the DS_Entry fuzz target share: the session's folders, the source's entry and
// the DSM's handle memory, the notifications the source posted, and the reach into the source's
// dialog on the thread it lives on.
#pragma once

#include "sensor-sim/bus.h"
#include "source/twpp/twain.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QThread>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

class QDialog;

namespace dsfuzz {

inline constexpr const char* kSerial = "SN4711";
inline constexpr const char* kUsbId = "U4711";
inline constexpr const char* kProductName = "Vanto Sensor Twain";

// Set once by the fuzzer's initialisation.
extern std::filesystem::path root;
// OSTRA_FUZZ_TRACE set: every triplet of a session and its return code go to the error output.
extern bool tracing;
extern DSENTRYPROC sourceEntry;
extern TW_ENTRYPOINT memory;

void require(bool condition);
std::filesystem::path appData();
sensorbus::Bus bus();

// The application's callback: records the notification, after the work set with setInside (if
// any) is done from within it.
TW_UINT16 TW_CALLINGSTYLE onNotification(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                         TW_MEMREF);
// Waits for work in progress inside a notification before it replaces it.
void setInside(std::function<void(TW_UINT16)> work);
std::size_t noteCount();
void clearNotes();

// Runs f on the thread of the source's Qt application object, if there is one, and waits.
template <typename F> void onDialogThread(F f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
    }
}

// Only on the dialog's thread.
QDialog* acquisitionDialog();
bool dialogShown();
int drawnTiles();

// Answers the question the dialog put up, if any: a message box by its Yes or No button, any other
// modal dialog of the source's by cancelling it. Such a box turns its own event loop, so this call
// still gets through while it is open.
void answerPrompt(bool yes);

// Runs f on the dialog's thread without waiting (f may put up a question), then answers whatever
// question that brings, until f has run.
template <typename F> void onDialogThreadAnswering(F f, bool yes) {
    using namespace std::chrono_literals;
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        app,
        [f, done] {
            f();
            *done = true;
        },
        Qt::QueuedConnection);
    for (int i = 0; i < 100 && !*done; ++i) {
        std::this_thread::sleep_for(20ms);
        answerPrompt(yes);
    }
}

void press(const char* button, bool yes);

template <typename F> bool waitUntil(F done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace dsfuzz
