// The adjustment controls, the image actions and the clock of the acquisition dialog. Each slot is
// connected to its control; so far a slot only writes its first log line, if it has one.
#include "ui/twaindialog.h"

#include "support/log.h"

void twaindialog::handleButton() {
    writeString2("handleButton");
}

void twaindialog::retakeImage() {}

void twaindialog::rotate() {
    writeString2("rotating...");
}

void twaindialog::rotateCCW() {
    writeString2("rotating ccw...");
}

void twaindialog::flip_vert() {
    writeString2("flip vert...");
}

void twaindialog::flip_hori() {
    writeString2("flip horiz...");
}

void twaindialog::contrastSliderValueChanged(int) {
    writeString2("Contrast Change...");
}

void twaindialog::brightnessSliderValueChanged(int) {
    writeString2("Brightness Change...");
}

void twaindialog::gammaSliderValueChanged(int) {
    writeString2("Gamma Change...");
}

void twaindialog::handleFlicker() {
    writeString2("Flicker Start");
}

void twaindialog::autoSaveToggled(bool) {}

void twaindialog::HDToggled(bool) {}

void twaindialog::UltraHDToggled(bool) {}

void twaindialog::contrastBrightnessResetButton() {
    writeString2("Contrast Brightness Reset Finish");
}

void twaindialog::lockImageParamHandler() {}

void twaindialog::brightvalueChange() {}

void twaindialog::contrastChange() {}

void twaindialog::gammaChange() {}
