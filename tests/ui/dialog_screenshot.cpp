#include "tests/ui/dialog_screenshot.h"

#include "ui/twaindialog.h"

#include <QtCore/QCoreApplication>
#include <QtWidgets/QComboBox>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

namespace uitest {

std::vector<std::uint16_t> syntheticDetectorFrame(int width, int height, int variant) {
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(width) * height);
    std::uint32_t seed = 0x9E3779B9u + static_cast<std::uint32_t>(variant) * 7919u;
    const auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(seed >> 20) / 4096.0 - 0.5;
    };
    const int teeth = 2 + variant % 2;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = static_cast<double>(x) / width;
            const double v = static_cast<double>(y) / height;
            // Attenuation: bone texture behind, teeth (crown at the top, narrowing roots below).
            double attenuation = 0.25 + 0.1 * std::sin(u * 40 + v * 17 + variant) * std::sin(v * 31);
            for (int t = 0; t < teeth; ++t) {
                const double centre = (t + 0.5) / teeth + 0.03 * std::sin(variant + t);
                const double halfWidth = (0.36 - 0.22 * v) / teeth;
                const double dx = std::abs(u - centre);
                if (v > 0.08 && v < 0.92 && dx < halfWidth) {
                    const bool crown = v < 0.42;
                    const bool pulp = dx < halfWidth * (crown ? 0.3 : 0.18) && v > 0.2;
                    attenuation = pulp ? 0.45 : (crown ? 0.85 : 0.7);
                }
            }
            attenuation = std::clamp(attenuation + 0.04 * noise(), 0.0, 1.0);
            samples[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint16_t>(62000 - attenuation * 50000);
        }
    }
    return samples;
}

QImage renderFullMouthDialog() {
    auto uiState = std::make_shared<UIState>();
    auto indexHandler = std::make_shared<IndexHandler>();
    auto retaker = std::make_shared<Retaker>();
    auto imageHolder = std::make_shared<ImageHolder>();
    auto changeData = std::make_shared<ChangeData>();
    auto configFile = std::make_shared<ConfigFile>();
    configFile->enable_template_mode = true;

    twaindialog dialog(uiState, indexHandler, retaker, imageHolder, changeData, configFile, nullptr, true,
                       nullptr);
    dialog.form().dropdown->setCurrentIndex(4);
    dialog.show();

    const auto tick = [&] {
        const auto now = indexHandler->current();
        if (indexHandler->onChange) {
            indexHandler->onChange(now.previous, now.selected);
        }
        if (now.selected >= 0) {
            dialog.tileViews()[now.selected]->onSelected(now.selected);
        }
        dialog.updatePreview();
        dialog.handle_image_change();
        QCoreApplication::processEvents();
    };

    // Portrait exposures, as the sensor delivers them; a landscape tile shows its image turned.
    const int width = 300;
    const int height = 400;
    for (int i = 0; i < 18; ++i) {
        const auto frame = syntheticDetectorFrame(width, height, i);
        imageHolder->addImage(width, height, 16, frame.data(), std::nullopt, indexHandler);
        tick();
    }
    // The dentist selects the lower middle tile to look at it in the preview.
    indexHandler->select_index(4, true);
    tick();
    tick();
    return dialog.grab().toImage();
}

} // namespace uitest
