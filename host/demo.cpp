// The demo's folders, its sensor, and the dialog driven on the thread it lives on.
#include "host/demo.h"

#include "sensor-sim/bus.h"
#include "support/config_file.h"
#include "ui/template_layouts.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtGui/QPixmap>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>

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

// Runs f on the thread of the Qt application object, where the source's dialog lives, and waits.
bool onDialogThread(const std::function<void()>& f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return false;
    }
    if (QThread::currentThread() == app->thread()) {
        f();
        return true;
    }
    return QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
}

// Only called on the dialog's thread.
QDialog* acquisitionDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "twaindialog") {
            return qobject_cast<QDialog*>(widget);
        }
    }
    return nullptr;
}

int drawnTiles() {
    int drawn = 0;
    onDialogThread([&] {
        QDialog* dialog = acquisitionDialog();
        QWidget* tiles = dialog ? dialog->findChild<QWidget*>("widget") : nullptr;
        if (tiles == nullptr) {
            return;
        }
        for (auto* view : tiles->findChildren<QGraphicsView*>()) {
            drawn += view->isVisible() && view->scene() != nullptr && !view->scene()->items().isEmpty();
        }
    });
    return drawn;
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

std::string prepareDemo(const fs::path& productFolders, DemoFolders& folders) {
    if (std::string error = newDemoRoot(folders.root); !error.empty()) {
        return error;
    }
    folders.appData = folders.root / "app-data";
    folders.bus = folders.root / "sensor-bus";
    std::error_code ec;
    fs::create_directories(folders.appData, ec);
    fs::create_directories(folders.bus, ec);
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(folders.appData.string()));
    qputenv(sensorbus::kBusVariable, QByteArray::fromStdString(folders.bus.string()));

    // The sensor's work folder starts from its product folder; a technician has put its corrections in.
    const fs::path work = folders.appData / "vanto_sensor" / "work_dir" / kSerial;
    fs::create_directories(work.parent_path(), ec);
    fs::copy(productFolders / kProduct, work, fs::copy_options::recursive, ec);
    if (ec) {
        return "cannot copy the product folder " + (productFolders / kProduct).string() + ": " + ec.message();
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

    sensorbus::SensorEntry entry;
    entry.usbId = kUsbId;
    entry.serial = kSerial;
    entry.product = kProduct;
    if (const auto status = sensorbus::Bus(folders.bus).plug(entry); status != sensorbus::BusStatus::ok) {
        return "cannot plug the simulated sensor: " + sensorbus::describe(status, kUsbId);
    }
    return {};
}

bool DemoDriver::eventually(const std::function<bool()>& condition, std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

std::string DemoDriver::waitForDialog() {
    const bool shown = eventually(
        [] {
            bool visible = false;
            onDialogThread(
                [&] { visible = acquisitionDialog() != nullptr && acquisitionDialog()->isVisible(); });
            return visible;
        },
        60s);
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

std::string DemoDriver::exposeTiles(int count, std::ostream& out) {
    const sensorbus::Bus bus(folders_.bus);
    for (int exposure = 1; exposure <= count; ++exposure) {
        if (const auto status = bus.requestExposures(kUsbId, 1); status != sensorbus::BusStatus::ok) {
            return "cannot expose the simulated sensor: " + sensorbus::describe(status, kUsbId);
        }
        if (!eventually([&] { return drawnTiles() >= exposure; }, 60s)) {
            return stop_ ? "interrupted" : "exposure " + std::to_string(exposure) + " did not reach its tile";
        }
        out << "Exposure " << exposure << " of " << count << ": tile " << exposure << " drawn" << std::endl;
    }
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

std::string DemoDriver::save() {
    bool pressed = false;
    onDialogThread([&] {
        QDialog* dialog = acquisitionDialog();
        if (auto* button = dialog ? dialog->findChild<QAbstractButton*>("pushButton") : nullptr) {
            button->click();
            pressed = true;
        }
    });
    return pressed ? std::string() : "the dialog has no Save button";
}

} // namespace host
