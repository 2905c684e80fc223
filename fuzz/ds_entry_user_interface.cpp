// The DS_Entry fuzz target's user interface: enable and disable, events, exposures and Save or
// Re-take, and a question left open.
#include "fuzz/ds_entry_context.h"
#include "fuzz/ds_entry_session.h"

#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>

#include <chrono>
#include <cstdint>

namespace dsfuzz {

using namespace std::chrono_literals;

void Session::enable() {
    TW_USERINTERFACE ui{};
    ui.ShowUI = data_.ConsumeBool() ? 1 : data_.ConsumeIntegral<TW_BOOL>();
    ui.ModalUI = data_.ConsumeIntegral<TW_BOOL>();
    // Any window handle: on this system a parent is only ever compared and recorded.
    ui.hParent =
        data_.ConsumeBool() ? nullptr : reinterpret_cast<TW_HANDLE>(data_.ConsumeIntegral<std::uintptr_t>());
    call(DG_CONTROL, DAT_USERINTERFACE, data_.ConsumeBool() ? MSG_ENABLEDS : MSG_ENABLEDSUIONLY, &ui);
}

void Session::processEvent() {
    char event[64] = {};
    TW_EVENT message{};
    message.pEvent = data_.ConsumeBool() ? event : nullptr;
    message.TWMessage = data_.ConsumeIntegral<TW_UINT16>();
    call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &message);
}

void Session::disable() {
    TW_USERINTERFACE ui{};
    call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
}

// With the dialog shown: exposures when the sensor is plugged, then Save (or Retake), then the
// notification through the callback or the message loop.
void Session::exposeAndSave() {
    const int count = data_.ConsumeIntegralInRange<int>(0, 2);
    const bool retake = data_.ConsumeIntegralInRange<int>(0, 3) == 0;
    const int series = data_.ConsumeIntegralInRange<int>(1, 6);
    const bool yes = data_.ConsumeBool();
    // Each of these waits; a few per session keep every input well inside the fuzzer's timeout.
    if (waitsLeft_ == 0 || !dialogShown()) {
        return;
    }
    --waitsLeft_;
    if (plugged_ && count > 0) {
        // Exposures are drawn into the tiles of a series template.
        onDialogThreadAnswering(
            [series] {
                if (QDialog* dialog = acquisitionDialog()) {
                    if (auto* templates = dialog->findChild<QComboBox*>("dropdown")) {
                        templates->setCurrentIndex(series);
                    }
                }
            },
            yes);
        const int before = drawnTiles();
        if (bus().requestExposures(kUsbId, count) == sensorbus::BusStatus::ok) {
            waitUntil([&] { return drawnTiles() >= before + count; }, 10s);
        }
    }
    const std::size_t seen = noteCount();
    press(retake ? "retakeButton" : "pushButton", yes);
    if (callback_) {
        // An application that works inside the notification records it only once that is done.
        waitUntil([&] { return noteCount() > seen; }, inside_ == Inside::nothing ? 500ms : 10s);
    } else {
        waitUntil(
            [&] {
                TW_EVENT event{nullptr, MSG_NULL};
                return call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT &&
                       event.TWMessage != MSG_NULL;
            },
            500ms);
    }
}

// The user picks another template and leaves the question about the images open while the
// application goes on (the dialog turns its events on a thread of its own).
void Session::switchTemplateUnanswered() {
    const int series = data_.ConsumeIntegralInRange<int>(0, 6);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app,
            [series] {
                if (QDialog* dialog = acquisitionDialog()) {
                    if (auto* templates = dialog->findChild<QComboBox*>("dropdown")) {
                        templates->setCurrentIndex(series);
                    }
                }
            },
            Qt::QueuedConnection);
    }
}

} // namespace dsfuzz
