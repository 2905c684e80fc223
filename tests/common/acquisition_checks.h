// What tests of a whole acquisition share: a known sensor plugged in, reaching the source's dialog
// on the thread it lives on, and the picture a tile image must reach the application as.
#pragma once

#include "imaging/format_image.h"
#include "sensor-sim/bus.h"
#include "sensor-sim/products.h"
#include "sensor-sim/synthetic_image.h"
#include "source/twpp/twain.h"
#include "support/config_file.h"
#include "tests/common/test_env.h"
#include "ui/acquisition_dialog_lookup.h"
#include "ui/template_layouts.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QThread>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
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
    return ui::findAcquisitionDialog();
}

// Whether the source's dialog exists and shows.
inline bool dialogVisible() {
    if (QCoreApplication::instance() == nullptr) {
        return false;
    }
    bool visible = false;
    onDialogThread([&] { visible = acquisitionDialog() != nullptr && acquisitionDialog()->isVisible(); });
    return visible;
}

// Tiles of the dialog that show a picture.
inline int drawnTiles() {
    int drawn = 0;
    onDialogThread([&] {
        if (QDialog* dialog = acquisitionDialog()) {
            for (auto* view : dialog->findChild<QWidget*>("widget")->findChildren<QGraphicsView*>()) {
                drawn += view->isVisible() && view->scene() != nullptr && !view->scene()->items().isEmpty();
            }
        }
    });
    return drawn;
}

// Clicks a button of the dialog by its object name.
inline void press(const char* button) {
    onDialogThread([button] { acquisitionDialog()->findChild<QAbstractButton*>(button)->click(); });
}

// A DS1 sensor seen before, plugged in: its serial folder with correction files, and the history of
// the configuration (last serial number, known serials, the USB identifier as the system lists it).
// With `plainFrames` its exposures are quick ramps instead of radiographs.
inline void plugKnownSensor(const std::string& serial, const std::string& usbId, bool plainFrames = false) {
    namespace fs = std::filesystem;
    sensorbus::SensorEntry entry;
    entry.usbId = usbId;
    entry.serial = serial;
    entry.product = "DS1";
    entry.plainFrames = plainFrames;
    ASSERT_EQ(sensorbus::Bus(busFolder()).plug(entry), sensorbus::BusStatus::ok);
    const fs::path folder = appDataFolder() / "vanto_sensor" / "work_dir" / serial;
    fs::create_directories(folder.parent_path());
    fs::copy(fs::path(OSTRA_TWAIN_FOLDER) / "DS1", folder, fs::copy_options::recursive);
    fs::create_directories(folder / "Correct" / "Default");
    std::ofstream(folder / "Correct" / "Default" / "offset.dft") << "dark field";
    std::ofstream(folder / "Correct" / "Default" / "gain.gn") << "gain";
    std::string listed = usbId;
    for (char& c : listed) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    updateConfigFile([&](ConfigFile& config) {
        config.last_serial_number = serial;
        config.previous_serial_numbers.insert(serial);
        config.previous_serial_numbers_map[listed] = serial;
    });
}

// The notifications the source posted to the application's callback (on the source's thread), for
// every test of the process.
struct Notifications {
    std::mutex mutex; // guards received
    std::condition_variable arrived;
    std::vector<TW_UINT16> received;

    bool waitFor(TW_UINT16 msg, std::size_t count = 1) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(60), [&] {
            return std::count(received.begin(), received.end(), msg) >= static_cast<long>(count);
        });
    }
    std::vector<TW_UINT16> all() {
        std::lock_guard lock(mutex);
        return received;
    }
};

inline Notifications& notifications() {
    static Notifications recorded;
    return recorded;
}

// The application's DSM callback: records the message.
inline TW_UINT16 TW_CALLINGSTYLE onNotification(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16,
                                                TW_UINT16 msg, TW_MEMREF) {
    {
        std::lock_guard lock(notifications().mutex);
        notifications().received.push_back(msg);
    }
    notifications().arrived.notify_all();
    return TWRC_SUCCESS;
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
