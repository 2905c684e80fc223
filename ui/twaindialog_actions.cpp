// The adjustment controls and the image actions of the acquisition dialog: rotate and flip, Re-take
// and Cancel Re-take, Save with the capture of the tile area, and the auto-save choice.
#include "ui/twaindialog.h"

#include "support/log.h"

#include <QtGui/QImage>
#include <QtGui/QPixmap>

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
    if (tileCount() > 1) {
        writeString2("grab screen");
        auto composite = grabScreen();
        // A capture left in front by a save the application did not take is replaced, not stacked.
        imageHolder->withImages([&](ImageHolder::Images& images) {
            while (!images.empty() && images.front() && images.front()->composite) {
                images.pop_front();
            }
            images.push_front(std::move(composite));
        });
    }
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

void twaindialog::contrastSliderValueChanged(int) {
    writeString2("Contrast Change...");
}

void twaindialog::brightnessSliderValueChanged(int) {
    writeString2("Brightness Change...");
}

void twaindialog::gammaSliderValueChanged(int) {
    writeString2("Gamma Change...");
}

void twaindialog::HDToggled(bool) {}

void twaindialog::UltraHDToggled(bool) {}

void twaindialog::contrastBrightnessResetButton() {
    writeString2("Contrast Brightness Reset Finish");
}

void twaindialog::lockImageParamHandler() {}

void twaindialog::brightvalueChange() {}

void twaindialog::contrastChange() {}

void twaindialog::gammaChange() {}
