// The demo's folders, its sensor, and the dialog driven on the thread it lives on.
#include "host/demo.h"

#include "host/demo_dialog.h"
#include "platform/app_data.h"

#include "sensor-sim/bus.h"
#include "sensor-sim/corrections.h"
#include "support/config_file.h"
#include "ui/template_layouts.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPixmap>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QGraphicsPixmapItem>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace host {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kSerial = "SN1001";
constexpr const char* kUsbId = "DEMO1001";
constexpr const char* kProduct = "DS1";

std::string simplified(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c != ' ' && c != '-' && c != '_') {
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

sensorbus::SensorEntry demoSensor() {
    sensorbus::SensorEntry entry;
    entry.usbId = kUsbId;
    entry.serial = kSerial;
    entry.product = kProduct;
    return entry;
}

std::string newDemoRoot(fs::path& root) {
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) {
        return "no temporary folder: " + ec.message();
    }
    std::random_device random;
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::ostringstream name;
        name << "ostra-demo-" << std::hex << random();
        root = temp / name.str();
        if (fs::create_directory(root, ec)) {
            return {};
        }
    }
    return "cannot create a demo folder in " + temp.string();
}

} // namespace

std::optional<int> findTemplate(const std::string& name) {
    const auto& templates = layoutTemplates();
    for (std::size_t i = 0; i < templates.size(); ++i) {
        if (simplified(templates[i].name) == simplified(name)) {
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

int templateTiles(int index) {
    return static_cast<int>(layoutTemplates().at(index).tiles.size());
}

std::string templateName(int index) {
    return layoutTemplates().at(index).name;
}

std::vector<DemoStep> defaultSteps(int tiles) {
    std::vector<DemoStep> steps(static_cast<std::size_t>(tiles), DemoStep{DemoStep::Kind::expose, 0});
    steps.push_back({DemoStep::Kind::save, 0});
    return steps;
}

std::string prepareDemo(const fs::path& productFolders, const std::optional<fs::path>& folder, bool newSensor,
                        DemoFolders& folders) {
    std::error_code ec;
    if (folder) {
        fs::create_directories(*folder, ec);
        folders.root = fs::absolute(*folder, ec);
        if (!fs::is_directory(folders.root)) {
            return "cannot create the demo folder " + folder->string();
        }
    } else if (std::string error = newDemoRoot(folders.root); !error.empty()) {
        return error;
    }
    folders.appData = folders.root / "app-data";
    folders.bus = folders.root / "sensor-bus";
    folders.calibrationDisk = sensorbus::correctionsFolder(folders.bus, kSerial);
    fs::create_directories(folders.appData, ec);
    fs::create_directories(folders.bus, ec);
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(folders.appData.string()));
    qputenv(sensorbus::kBusVariable, QByteArray::fromStdString(folders.bus.string()));
    // Where the source will look: the folder above on Linux, the user's own one on Windows.
    folders.appData = platform::localAppDataFolder().value_or(folders.appData);

    // The sensor's work folder starts from its product folder; a technician has put its corrections in.
    const fs::path work = folders.appData / "vanto_sensor" / "work_dir" / kSerial;
    if (!newSensor && !fs::exists(work)) {
        fs::create_directories(work.parent_path(), ec);
        fs::copy(productFolders / kProduct, work, fs::copy_options::recursive, ec);
        if (ec) {
            return "cannot copy the product folder " + (productFolders / kProduct).string() + ": " +
                   ec.message();
        }
        const fs::path corrections = work / "Correct" / "Default";
        fs::create_directories(corrections, ec);
        std::ofstream(corrections / "x.dft") << "dark field\n";
        std::ofstream(corrections / "x.gn") << "gain\n";
        if (!fs::exists(corrections / "x.gn")) {
            return "cannot write the corrections into " + corrections.string();
        }
        updateConfigFile([](ConfigFile& config) {
            config.last_serial_number = kSerial;
            config.previous_serial_numbers.insert(kSerial);
            config.previous_serial_numbers_map[lowered(kUsbId)] = kSerial;
        });
    }

    const sensorbus::Bus bus(folders.bus);
    if (!bus.sensor(kUsbId)) {
        if (const auto status = bus.plug(demoSensor()); status != sensorbus::BusStatus::ok) {
            return "cannot plug the simulated sensor: " + sensorbus::describe(status, kUsbId);
        }
    }
    // The calibration disk that comes with the sensor.
    if (!fs::exists(folders.calibrationDisk) &&
        !sensorbus::writeCorrectionFiles(folders.calibrationDisk, kSerial)) {
        return "cannot write the sensor's calibration disk " + folders.calibrationDisk.string();
    }
    return {};
}

bool DemoDriver::eventually(const std::function<bool()>& condition, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        if (idle_) {
            idle_();
        } else {
            std::this_thread::sleep_for(20ms);
        }
    }
    return false;
}

std::string DemoDriver::waitForDialog() {
    const bool shown = eventually(dialogShown, 60s);
    return shown ? std::string() : "the acquisition dialog did not appear";
}

std::string DemoDriver::chooseTemplate(int index) {
    bool chosen = false;
    onDialogThread([&] {
        QDialog* dialog = acquisitionDialog();
        auto* chooser = dialog ? dialog->findChild<QComboBox*>("dropdown") : nullptr;
        if (chooser != nullptr && index < chooser->count()) {
            chooser->setCurrentIndex(index);
            chosen = chooser->currentIndex() == index;
        }
    });
    return chosen ? std::string() : "the dialog did not take the template " + templateName(index);
}

std::string DemoDriver::answerCorrections(std::ostream& out) {
    // The question, then the folder chooser. The exchange is over once no window waits for an
    // answer and the sensor's own work folder holds its corrections; a second question means the
    // disk was refused.
    std::atomic<bool> given = false;
    std::atomic<bool> refused = false;
    const fs::path disk = folders_.calibrationDisk;
    const fs::path corrections =
        folders_.appData / "vanto_sensor" / "work_dir" / kSerial / "Correct" / "Default";
    const QuestionAnswerer answerer([&, asked = false]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            refused = given.load();
            asked = true;
            QAbstractButton* button = box->button(refused ? QMessageBox::No : QMessageBox::Ok);
            (button != nullptr ? button : box->buttons().front())->click();
        } else if (auto* chooser = qobject_cast<QFileDialog*>(modal); chooser != nullptr && asked && !given) {
            // With nothing typed in, the chooser gives the folder it shows.
            chooser->setDirectory(QString::fromStdString(disk.string()));
            QMetaObject::invokeMethod(chooser, "accept");
            given = true;
        }
    });
    const bool answered = eventually(
        [&] {
            bool waiting = false;
            onDialogThread([&] {
                QWidget* modal = QApplication::activeModalWidget();
                waiting = modal != nullptr && modal->isVisible();
            });
            return refused || (given && !waiting && sensorbus::holdsCorrectionFilesFor(corrections, kSerial));
        },
        60s);
    if (refused) {
        return "the dialog refused the calibration disk " + disk.string();
    }
    if (!answered) {
        return stop_   ? "interrupted"
               : given ? "the sensor did not start with the corrections of its calibration disk"
                       : "the dialog did not ask for the sensor's corrections";
    }
    out << "The dialog asks for the sensor's corrections: given its calibration disk " << disk.string()
        << std::endl;
    return {};
}

std::string DemoDriver::waitForConnection(bool connected) {
    const QString expected = connected ? "Device Connected !" : "Device Disconnected";
    ConnectionShown shown;
    const bool reached = eventually(
        [&] {
            shown = connectionShown();
            return shown.text == expected && shown.lamp == connected;
        },
        60s);
    if (!reached) {
        return stop_ ? "interrupted"
                     : "the dialog shows \"" + shown.text.toStdString() + "\" with its lamp " +
                           (shown.lamp ? "green" : "red") + " instead of \"" + expected.toStdString() + "\"";
    }
    return {};
}

std::string DemoDriver::runSteps(const std::vector<DemoStep>& steps, const DemoRun& run, std::ostream& out) {
    for (const DemoStep& step : steps) {
        if (step.kind == DemoStep::Kind::retake && step.tile > run.tiles) {
            return "retake " + std::to_string(step.tile) + ": the template has " + std::to_string(run.tiles) +
                   (run.tiles == 1 ? " tile" : " tiles");
        }
    }
    if (std::string error = waitForConnection(true); !error.empty()) {
        return error;
    }
    const int exposures =
        static_cast<int>(std::count_if(steps.begin(), steps.end(), [](const DemoStep& step) {
            return step.kind == DemoStep::Kind::expose;
        }));
    int exposure = 0;
    const sensorbus::Bus bus(folders_.bus);
    for (const DemoStep& step : steps) {
        std::string error;
        switch (step.kind) {
        case DemoStep::Kind::expose:
            error = expose(++exposure, exposures, out);
            break;
        case DemoStep::Kind::retake:
            error = retake(step.tile, run.tiles, out);
            break;
        case DemoStep::Kind::unplug:
            if (const auto status = bus.unplug(kUsbId); status != sensorbus::BusStatus::ok) {
                return "cannot unplug the simulated sensor: " + sensorbus::describe(status, kUsbId);
            }
            error = waitForConnection(false);
            if (error.empty()) {
                out << "Sensor unplugged: the dialog shows \"Device Disconnected\", its lamp red"
                    << std::endl;
            }
            break;
        case DemoStep::Kind::plug:
            if (const auto status = bus.plug(demoSensor()); status != sensorbus::BusStatus::ok) {
                return "cannot plug the simulated sensor: " + sensorbus::describe(status, kUsbId);
            }
            error = waitForConnection(true);
            if (error.empty()) {
                out << "Sensor plugged in: the dialog shows \"Device Connected !\", its lamp green"
                    << std::endl;
            }
            break;
        case DemoStep::Kind::save:
            error = save(run, out);
            break;
        case DemoStep::Kind::autosave:
            error = turnAutoSaveOn(out);
            break;
        case DemoStep::Kind::esc:
        case DemoStep::Kind::close:
            error = closeDialog(step.kind == DemoStep::Kind::esc, out);
            break;
        }
        if (!error.empty()) {
            return error;
        }
    }
    return {};
}

std::string DemoDriver::expose(int exposure, int exposures, std::ostream& out) {
    const auto before = tilePictures();
    if (const auto status = sensorbus::Bus(folders_.bus).requestExposures(kUsbId, 1);
        status != sensorbus::BusStatus::ok) {
        return "cannot expose the simulated sensor: " + sensorbus::describe(status, kUsbId);
    }
    std::size_t tile = 0;
    bool saved = false;
    const bool drawn = eventually(
        [&] {
            // With Auto Save on, the exposure that fills the last tile hands the series over at once.
            saved = autoSave_ && exposure == exposures && !dialogShown();
            if (saved) {
                return true;
            }
            const auto now = tilePictures();
            for (tile = 0; tile < now.size() && tile < before.size(); ++tile) {
                if (now[tile] != before[tile] && now[tile] != 0) {
                    return true;
                }
            }
            return false;
        },
        60s);
    if (!drawn) {
        return stop_ ? "interrupted" : "exposure " + std::to_string(exposure) + " did not reach a tile";
    }
    if (saved) {
        out << "Exposure " << exposure << " of " << exposures << ": Auto Save handed the series over"
            << std::endl;
        return {};
    }
    out << "Exposure " << exposure << " of " << exposures << ": tile " << tile + 1 << " drawn" << std::endl;
    return {};
}

std::string DemoDriver::retake(int tile, int tiles, std::ostream& out) {
    const auto button = [] {
        QDialog* dialog = acquisitionDialog();
        return dialog ? dialog->findChild<QAbstractButton*>("retakeButton") : nullptr;
    };
    bool clicked = false;
    onDialogThread([&] {
        const auto views = tileViews(acquisitionDialog());
        if (static_cast<int>(views.size()) == tiles) {
            QWidget* area = views[static_cast<std::size_t>(tile - 1)]->viewport();
            const QPointF at(area->width() / 2.0, area->height() / 2.0);
            QMouseEvent press(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QMouseEvent release(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(area, &press);
            QApplication::sendEvent(area, &release);
            clicked = true;
        }
    });
    if (!clicked) {
        return "the dialog does not show tile " + std::to_string(tile);
    }
    // The dialog's clock offers Re-take for the selected tile once it holds an image.
    bool pressed = false;
    eventually(
        [&] {
            onDialogThread([&] {
                QAbstractButton* retakeButton = button();
                if (retakeButton != nullptr && retakeButton->isEnabled() &&
                    retakeButton->text() == "Re-take") {
                    retakeButton->click();
                    pressed = retakeButton->text() == "Cancel Re-take";
                }
            });
            return pressed;
        },
        60s);
    if (!pressed) {
        return stop_ ? "interrupted" : "the dialog offers no Re-take for tile " + std::to_string(tile);
    }
    out << "Re-take of tile " << tile << ": its next exposure replaces it" << std::endl;
    return {};
}

std::string DemoDriver::turnAutoSaveOn(std::ostream& out) {
    bool on = false;
    onDialogThread([&] {
        QDialog* dialog = acquisitionDialog();
        if (auto* button = dialog ? dialog->findChild<QAbstractButton*>("autoSaveButton") : nullptr) {
            button->setChecked(true);
            on = button->isChecked();
        }
    });
    if (!on) {
        return "the dialog has no Auto Save";
    }
    autoSave_ = true;
    out << "Auto Save on: the exposure that fills the last tile saves" << std::endl;
    return {};
}

std::string DemoDriver::closeDialog(bool escape, std::ostream& out) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return "the dialog is not there to close";
    }
    // Queued, not waited for: the dialog may ask first, and its question waits for an answer.
    QMetaObject::invokeMethod(
        app,
        [escape] {
            if (QDialog* dialog = acquisitionDialog()) {
                if (escape) {
                    QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                    QApplication::sendEvent(dialog, &key);
                } else {
                    dialog->close();
                }
            }
        },
        Qt::QueuedConnection);
    // Asked whether to close with images not handed over: yes.
    const QuestionAnswerer answerer([] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
                yes->click();
            }
        }
    });
    const bool closed = eventually(
        [] {
            bool gone = false;
            // An application that closes the source inside its notification takes the dialog's
            // thread with it: nothing left to ask is a closed dialog too.
            const bool reached = onDialogThread([&] {
                QDialog* dialog = acquisitionDialog();
                gone = dialog == nullptr || !dialog->isVisible();
            });
            return gone || !reached;
        },
        60s);
    if (!closed) {
        return stop_ ? "interrupted" : "the dialog did not close";
    }
    out << (escape ? "Escape pressed" : "The window's close button pressed") << ": the dialog closes"
        << std::endl;
    return {};
}

std::string DemoDriver::screenshot(const fs::path& file) {
    bool saved = false;
    onDialogThread([&] {
        if (QDialog* dialog = acquisitionDialog()) {
            saved = dialog->grab().save(QString::fromStdString(file.string()), "PNG");
        }
    });
    return saved ? std::string() : "cannot write the screenshot " + file.string();
}

std::string DemoDriver::save(const DemoRun& run, std::ostream& out) {
    if (run.screenshot) {
        if (std::string error = screenshot(*run.screenshot); !error.empty()) {
            return error;
        }
        out << "Screenshot: " << run.screenshot->string() << std::endl;
    }
    const auto press = [] {
        bool pressed = false;
        onDialogThread([&] {
            QDialog* dialog = acquisitionDialog();
            if (auto* button = dialog ? dialog->findChild<QAbstractButton*>("pushButton") : nullptr) {
                button->click();
                pressed = true;
            }
        });
        return pressed ? std::string() : "the dialog has no Save button";
    };
    if (!run.refuseXferReady) {
        return press();
    }
    const int drawn = drawnTiles();
    run.refuseXferReady(true);
    if (std::string error = press(); !error.empty()) {
        return error;
    }
    // Save hides the dialog; the source shows it again once its notice was refused.
    if (std::string error = waitForDialog(); !error.empty()) {
        return "the dialog did not show again after the refused save";
    }
    run.refuseXferReady(false);
    const int again = drawnTiles();
    out << "The images were refused: the dialog shows again with " << again << " of " << drawn
        << " tiles drawn; Save pressed again" << std::endl;
    if (again != drawn) {
        return "the dialog shows " + std::to_string(again) + " tiles drawn after the refused save, not " +
               std::to_string(drawn);
    }
    return press();
}

} // namespace host
