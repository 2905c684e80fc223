// What tests of a whole acquisition share: reaching the source's dialog on the thread it lives on,
// and the picture a tile image must reach the application as.
#pragma once

#include "imaging/format_image.h"
#include "sensor-sim/products.h"
#include "sensor-sim/synthetic_image.h"
#include "support/config_file.h"
#include "ui/template_layouts.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QThread>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace testenv {

// Runs f on the thread of the Qt application object (where the source's dialog lives) and waits.
template <typename F> void onDialogThread(F f) {
    QCoreApplication* app = QCoreApplication::instance();
    ASSERT_NE(app, nullptr);
    if (QThread::currentThread() == app->thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
    }
}

// The source's acquisition dialog, or null; on the dialog's thread.
inline QDialog* acquisitionDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "twaindialog") {
            return qobject_cast<QDialog*>(widget);
        }
    }
    return nullptr;
}

// Exposure `exposure` (from 1) of the DS1 sensor `serial` in tile exposure - 1 of template
// `templateIndex`, as the application must receive it: bitmap form when `native`, else bare rows.
// The presets and the HD choice are the ones the dialog stored.
inline std::vector<char> expectedPicture(const std::string& serial, int templateIndex, int exposure,
                                         bool native) {
    const auto product = *sensorbus::findProduct("DS1");
    const auto samples = sensorsim::syntheticExposure(product.width, product.height, serial, exposure);
    const auto& tile = layoutTemplates()[templateIndex].tiles[exposure - 1];
    const ConfigFile config = readConfigFile();
    auto image = std::make_shared<Image>(product.width, product.height, 2, samples.data(), exposure,
                                         !tile.vertical, config.current_image_mode != 0);
    image->contrast = config.image_presets.contrast;
    image->brightness = config.image_presets.brightness;
    image->gamma = config.image_presets.gamma;
    int width = 0;
    int height = 0;
    return format_image(image, width, height, native, native);
}

} // namespace testenv
