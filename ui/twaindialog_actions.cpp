// The adjustment controls and the image actions of the acquisition dialog: rotate and flip, Re-take
// and Cancel Re-take, Save with the capture of the tile area, and the auto-save choice.
#include "ui/twaindialog.h"

#include "support/log.h"

#include <QtGui/QImage>
#include <QtGui/QPixmap>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

void twaindialog::recordAction(UIState::ActionCode code) {
    std::uint8_t current = uiState->action.load();
    while (current != UIState::CloseRequested && current != UIState::ImagesReady &&
           !uiState->action.compare_exchange_weak(current, code)) {
    }
}

void twaindialog::turnSelected(UIState::ActionCode code, const char* text, ImageTurn turn) {
    recordAction(code);
    writeString2(text);
    const int selected = indexHandler->selected;
    if (selected < 0) {
        return;
    }
    // Under the image lock, so that a retake arriving meanwhile is not overwritten by the turned
    // old picture.
    imageHolder->withImages([&](ImageHolder::Images& images) {
        std::size_t position = 0;
        while (position < images.size() && images[position] && images[position]->composite) {
            ++position;
        }
        position += static_cast<std::size_t>(selected);
        if (position < images.size() && images[position]) {
            images[position] = turnedImage(*images[position], turn);
        }
    });
}

void twaindialog::rotate() {
    turnSelected(UIState::Rotate, "rotating...", ImageTurn::Rotate);
}

void twaindialog::rotateCCW() {
    turnSelected(UIState::RotateCounterClockwise, "rotating ccw...", ImageTurn::RotateCCW);
}

void twaindialog::flip_vert() {
    turnSelected(UIState::FlipVertical, "flip vert...", ImageTurn::FlipVertical);
}

void twaindialog::flip_hori() {
    turnSelected(UIState::FlipHorizontal, "flip horiz...", ImageTurn::FlipHorizontal);
}

void twaindialog::resetRetakeButton() {
    ui.retakeButton->setText("Re-take");
    ui.retakeButton->setEnabled(false);
    retakeState = 0;
}

void twaindialog::retakeImage() {
    if (retakeState == 2) {
        resetRetakeButton();
        retaker->takeRetake();
        return;
    }
    if (retakeState != 1) {
        return;
    }
    recordAction(UIState::Retake);
    const int selected = indexHandler->selected;
    // An exposure held for want of a free tile serves the retake at once, without a new exposure.
    if (imageHolder->retakeWithHeld(selected, *indexHandler)) {
        writeLog(
            [&](std::ofstream& out) { out << "Retake Image " << selected << " - held image" << std::endl; });
        placeHeldExposures();
        return;
    }
    if (selected >= 0 && static_cast<std::size_t>(selected) < tileCount() &&
        static_cast<std::size_t>(selected) < tileImages().size()) {
        retaker->addRetake(selected);
    }
    const auto front = retaker->front();
    writeLog([&](std::ofstream& out) {
        out << "Retake Image " << selected << " - E " << (front ? "no" : "yes") << " - CI "
            << front.value_or(0) << " - R " << (front == selected ? "yes" : "no") << std::endl;
    });
    ui.retakeButton->setText("Cancel Re-take");
    retakeState = 2;
    writeString2("retake image button");
}

void twaindialog::handleButton() {
    writeString2("handleButton");
    if (tileImages().empty()) {
        writeString2("No Image found cannot save");
        return;
    }
    // A retake still waiting ends with the save: the images being handed over never change.
    retaker->reset();
    resetRetakeButton();
    std::shared_ptr<Image> composite;
    if (tileCount() > 1) {
        writeString2("grab screen");
        composite = grabScreen();
    }
    // In one step the capture (replacing one left by a save the application did not take) goes in
    // front and exposures are held until the dialog is shown again.
    imageHolder->beginHandover(std::move(composite));
    // Only once the composite stands in front: the source may act on the request at once.
    uiState->action = UIState::ImagesReady;
    handedOver = true;
    writeString2("Saving Image...");
    close();
}

std::shared_ptr<Image> twaindialog::grabScreen() {
    writeString2("grabScreen");
    const QImage grey = ui.widget->grab().toImage().convertToFormat(QImage::Format_Grayscale8, Qt::MonoOnly);
    const int grabbedWidth = grey.width();
    int pad = grabbedWidth % 4;
    if (pad >= 1) {
        pad = 4 - pad;
    }

    auto composite = std::make_shared<Image>();
    composite->width = grabbedWidth + pad;
    composite->height = grey.height();
    composite->depth = 2;
    composite->contrast = 1.0;
    composite->brightness = 0;
    composite->enhance = false;
    composite->gamma = 0.68;
    composite->upright = true;
    composite->rendered = false;
    composite->composite = true;
    composite->number = 0;
    composite->ultraHd = true;
    writeLog([&](std::ofstream& out) {
        out << "Size: " << static_cast<long long>(composite->width) * composite->height
            << " extraBytes: " << pad << " bytesPerLine: " << grey.bytesPerLine()
            << " w: " << composite->width << " h: " << composite->height << std::endl;
    });

    const auto width = static_cast<std::size_t>(composite->width);
    composite->pixels.assign(width * static_cast<std::size_t>(composite->height), 0);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        std::uint16_t* row = composite->pixels.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < grabbedWidth; ++x) {
            row[x] = static_cast<std::uint16_t>(line[x] * 257);
        }
    }
    return composite;
}

void twaindialog::autoSaveToggled(bool checked) {
    config().auto_save_enabled = checked;
}

std::shared_ptr<Image> twaindialog::selectedImage() const {
    const int selected = indexHandler->selected;
    const auto images = tileImages();
    if (selected < 0 || static_cast<std::size_t>(selected) >= images.size()) {
        return nullptr;
    }
    return images[static_cast<std::size_t>(selected)];
}

void twaindialog::sliderChanged(const Adjustment& adjustment, int value) {
    recordAction(adjustment.action);
    adjustment.store(value);
    writeString2(adjustment.changeText);
    if (auto image = selectedImage()) {
        writeString2(adjustment.validIndexText);
        adjustment.copyToImage(*image);
        image->rendered = false;
    }
    const QString text = percentText(value, adjustment.slider->maximum());
    if (adjustment.field->text() != text) {
        adjustment.field->setText(text);
    }
    adjustment.copyToPresets(config().image_presets);
    config().presetsChanged = true;
    writeString2(adjustment.finishText);
}

void twaindialog::fieldChanged(QLineEdit* field, QSlider* slider) {
    bool number = false;
    double percent = field->text().toDouble(&number);
    if (!number || std::isnan(percent)) {
        percent = 0;
    }
    const double clamped = std::clamp(percent, 0.0, 100.0);
    if (clamped != percent) {
        field->setText(QString::number(clamped, 'g', 6));
        return; // the text change runs this handler again with the clamped number
    }
    // The handle already shows this percentage: moving it to the truncated percentage would make it
    // creep (contrast 1.0 becoming 0.98, a handle released at 53 jumping to 52). A handle moved by
    // setSliders has not changed the value yet: it is taken as it stands.
    const int maximum = slider->maximum();
    const int position = slider->sliderPosition();
    if (std::round(static_cast<double>(position) / maximum * 100.0) == clamped) {
        if (slider->value() != position) {
            slider->setValue(position);
        }
        return;
    }
    slider->setValue(static_cast<int>(clamped / 100.0 * maximum));
}

twaindialog::Adjustment twaindialog::brightnessAdjustment() {
    return {UIState::BrightnessChanged,
            ui.brightnessSlider,
            ui.brightness_value,
            "Brightness Change...",
            "BrightnessChange valid index",
            "BrightnessChange Finish",
            [this](int value) { changeData->brightness = value - 50; },
            [this](Image& image) { image.brightness = changeData->brightness.value_or(0); },
            [this](ImagePreset& presets) { presets.brightness = changeData->brightness.value_or(0); }};
}

twaindialog::Adjustment twaindialog::contrastAdjustment() {
    return {UIState::ContrastChanged,
            ui.contrastSlider,
            ui.contrast_value,
            "Contrast Change...",
            "ContrastChange valid index",
            "ContrastChange Finish",
            [this](int value) { changeData->contrast = value / 50.0; },
            [this](Image& image) { image.contrast = changeData->contrast.value_or(1.0); },
            [this](ImagePreset& presets) { presets.contrast = changeData->contrast.value_or(1.0); }};
}

twaindialog::Adjustment twaindialog::gammaAdjustment() {
    return {UIState::GammaChanged,
            ui.gammaSlider,
            ui.gamma_value,
            "Gamma Change...",
            "GammaChange valid index",
            "GammaChange Finish",
            [this](int value) { changeData->gamma = value / 100.0; },
            [this](Image& image) { image.gamma = changeData->gamma.value_or(0.68); },
            [this](ImagePreset& presets) { presets.gamma = changeData->gamma.value_or(0.68); }};
}

void twaindialog::contrastSliderValueChanged(int value) {
    sliderChanged(contrastAdjustment(), value);
}

void twaindialog::brightnessSliderValueChanged(int value) {
    sliderChanged(brightnessAdjustment(), value);
}

void twaindialog::gammaSliderValueChanged(int value) {
    sliderChanged(gammaAdjustment(), value);
}

void twaindialog::brightvalueChange() {
    fieldChanged(ui.brightness_value, ui.brightnessSlider);
}

void twaindialog::contrastChange() {
    fieldChanged(ui.contrast_value, ui.contrastSlider);
}

void twaindialog::gammaChange() {
    fieldChanged(ui.gamma_value, ui.gammaSlider);
}

void twaindialog::contrastBrightnessResetButton() {
    setSliders(50, 50, 68);
    // After the handles have moved: their handlers record changes of their own.
    recordAction(UIState::AdjustmentsReset);
    ConfigFile& settings = config();
    settings.image_presets.contrast = 1.0;
    settings.image_presets.brightness = 0;
    settings.image_presets.gamma = 0.68;
    settings.presetsChanged = false;
    if (auto image = selectedImage()) {
        writeString2("Contrast Brightness Reset valid index");
        if (changeData->contrast) {
            image->contrast = *changeData->contrast;
        }
        if (changeData->brightness) {
            image->brightness = *changeData->brightness;
        }
        if (changeData->gamma) {
            image->gamma = *changeData->gamma;
        }
        image->rendered = false;
    }
    writeString2("Contrast Brightness Reset Finish");
}

void twaindialog::lockImageParamHandler() {
    ConfigFile& settings = config();
    const bool locked = !settings.image_presets_locked;
    applyLock(locked);
    settings.image_presets_locked = locked;
    settings.presetsChanged = true;
}

void twaindialog::chooseUltraHd(bool ultraHd) {
    // Every stored image is drawn again with the new sharpening, so that the tiles show what the
    // transfer will send.
    imageHolder->withImages([ultraHd](ImageHolder::Images& images) {
        for (const auto& image : images) {
            if (image) {
                image->ultraHd = ultraHd;
                image->rendered = false;
            }
        }
    });
    imageHolder->setUltraHd(ultraHd);
    config().current_image_mode = ultraHd ? 1 : 0;
}

void twaindialog::HDToggled(bool checked) {
    if (checked) {
        chooseUltraHd(false);
    }
}

void twaindialog::UltraHDToggled(bool checked) {
    if (checked) {
        chooseUltraHd(true);
    }
}
