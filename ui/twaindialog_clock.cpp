// The acquisition dialog's 200 ms clock: the blinking of a tile waiting for its retake, the
// selection border, the corrections check, the drawing of new images and auto-save.
#include "ui/twaindialog.h"

#include "device/calibration_handler.h"
#include "support/log.h"

#include <cstddef>
#include <exception>
#include <string>

namespace {

// Clears a flag when the scope ends, however it ends.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag(flag) { flag = true; }
    ~FlagScope() { flag = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag;
};

// Resumes the device layer's connection thread when the scope ends, however it ends.
class ResumeScope {
public:
    explicit ResumeScope(CalibrartionHandler& handler) : handler(handler) {}
    ~ResumeScope() {
        try {
            handler.resumeConnection();
        } catch (const std::exception& error) {
            writeString2(std::string("resumeConnection error: ") + error.what());
        }
    }
    ResumeScope(const ResumeScope&) = delete;
    ResumeScope& operator=(const ResumeScope&) = delete;

private:
    CalibrartionHandler& handler;
};

} // namespace

void twaindialog::handleFlicker() {
    // Once Save or a close has handed the outcome over, nothing is drawn and nothing saved until
    // the dialog is shown again; and a tick never starts inside another one.
    if (inFlicker || handedOver) {
        return;
    }
    const FlagScope running(inFlicker);
    writeString2("Flicker Start");

    const auto waiting = retaker->front();
    bool blinked = false;
    for (std::size_t i = 0; i < views.size(); ++i) {
        CusQGraphicsView& view = *views[i];
        const int index = static_cast<int>(i);
        if (waiting && *waiting == index) {
            writeLog([index](std::ofstream& out) { out << "retaking " << index << std::endl; });
            view.flickering = true;
            if (view.highlighted) {
                view.applyUnselected();
                writeLog([index](std::ofstream& out) { out << "retaking off " << index << std::endl; });
            } else {
                view.applySelected();
                writeLog([index](std::ofstream& out) { out << "retaking on " << index << std::endl; });
            }
            blinked = true;
        } else if (view.flickering) {
            // Its retake has been served or cancelled.
            resetRetakeButton();
            view.flickering = false;
        }
    }
    // A retake served before its tile blinked once leaves no blinking tile behind: the waiting
    // state must end all the same, or the tiles stay locked behind "Cancel Re-take".
    if (!waiting && retakeState == 2) {
        resetRetakeButton();
    }
    writeString2("Loop end");

    const auto now = indexHandler->current();
    const int selected = now.selected;
    writeLog([&now, selected](std::ofstream& out) {
        out << "previous index " << static_cast<int>(now.previous) << " selected index " << selected
            << " upper bound " << static_cast<int>(now.upperLimit) << std::endl;
    });
    if (!blinked) {
        if (indexHandler->onChange) {
            indexHandler->onChange(now.previous, now.selected);
        }
        if (selected != -1) {
            writeLog([selected](std::ofstream& out) { out << "selected Index " << selected << std::endl; });
            if (selected >= 0 && static_cast<std::size_t>(selected) < views.size()) {
                views[static_cast<std::size_t>(selected)]->onSelected(selected);
            }
        }
    }
    writeString2("Flicker End");

    if (calibrationHandler && calibrationHandler->correctionFailed()) {
        calibrationHandler->pauseConnection();
        // The connection thread must never stay paused: it is resumed however the exchange ends.
        const ResumeScope resume(*calibrationHandler);
        try {
            handle_calibration_dialog();
        } catch (const std::exception& error) {
            writeString2(std::string("handle_calibration_dialog error: ") + error.what());
        }
    }

    placeHeldExposures();
    updatePreview();
    handle_image_change();
    handle_autosave();
}

void twaindialog::handle_autosave() {
    writeString2("handle_autosave 1");
    const std::size_t stored = tileImages().size();
    if (stored < tileCount()) {
        autoSaved = false;
    } else if (!autoSaved && config().auto_save_enabled && stored == tileCount()) {
        writeString2("handle_autosave 2");
        // Once for these images: a dialog shown again after the application refused them must
        // not hand them over again on its own.
        autoSaved = true;
        handleButton();
    }
    writeString2("handle_autosave 3");
}
