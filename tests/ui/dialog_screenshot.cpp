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
            // Density: soft bone texture, denser towards the roots.
            double density =
                0.20 + 0.12 * v + 0.025 * std::sin(u * 23 + variant) * std::sin(v * 19 + 2 * variant);
            for (int t = 0; t < teeth; ++t) {
                const double centre = (t + 0.5) / teeth + 0.02 * std::sin(variant * 1.7 + t);
                // A crown at the top, a root narrowing downwards.
                const double halfWidth = (v < 0.38 ? 0.40 : 0.40 - 0.45 * (v - 0.38)) / teeth;
                const double dx = (u - centre) / std::max(halfWidth, 1e-3);
                const double top = (v - 0.06) / 0.05;
                const double bottom = (0.95 - v) / 0.05;
                if (std::abs(dx) < 1.0 && top > 0.0 && bottom > 0.0) {
                    const double profile = std::pow(1.0 - dx * dx, 0.6) * std::min({1.0, top, bottom});
                    const double enamel = v < 0.3 ? 0.12 * std::exp(-std::pow((v - 0.12) / 0.1, 2)) : 0.0;
                    const double pulp = 0.18 * std::exp(-std::pow(dx / 0.22, 2)) * (v > 0.2 ? 1.0 : 0.0);
                    density += profile * (0.35 + enamel - pulp);
                }
            }
            density += 0.015 * noise();
            samples[static_cast<std::size_t>(y) * width + x] =
                static_cast<std::uint16_t>(std::clamp(60000.0 - density * 45000.0, 0.0, 65534.0));
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
    // The whole form, also where the screen is smaller than the dialog and it scrolls.
    return dialog.content()->grab().toImage();
}

} // namespace uitest
