#include "bench/bench_session_driver.h"

#include "platform/app_data.h"

#include "sensor-sim/bus.h"
#include "support/config_file.h"

#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QLabel>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <thread>

namespace benchsession {

using Clock = std::chrono::steady_clock;

// Where the source's files go: the local application-data folder (the runner's private
// XDG_DATA_HOME on Linux, the user profile's on Windows), and the virtual sensor bus beside them.
fs::path dataFolder() {
    return platform::localAppDataFolder().value_or(fs::temp_directory_path());
}

fs::path busFolder() {
    return dataFolder() / "ostra-bench-bus";
}

// The driver folder with the data source and the sensors' product folders: $OSTRA_TWAIN_DS_FOLDER
// when given (a Windows build run elsewhere than where it was built), else this build's.
fs::path driverFolder() {
    const char* folder = std::getenv("OSTRA_TWAIN_DS_FOLDER");
    return folder != nullptr && *folder != '\0' ? fs::path(folder) : fs::path(OSTRA_TWAIN_FOLDER);
}

// One turn of the application's message loop while a source is enabled (kMessageLoop), else a short
// sleep. Set by the enabled Session; used on the program's one thread only.
std::function<void()>& messageLoopTurn() {
    static std::function<void()> turn;
    return turn;
}

void turnOrSleep() {
    if (kMessageLoop && messageLoopTurn()) {
        messageLoopTurn()();
    } else {
        std::this_thread::sleep_for(1ms);
    }
}

QWidget* acquisitionDialog() {
    return ui::findAcquisitionDialog();
}

int drawnTiles() {
    int drawn = 0;
    onDialogThread([&drawn] {
        if (QWidget* dialog = acquisitionDialog()) {
            for (auto* view : dialog->findChild<QWidget*>("widget")->findChildren<QGraphicsView*>()) {
                drawn += view->isVisible() && view->scene() != nullptr && !view->scene()->items().isEmpty();
            }
        }
    });
    return drawn;
}

bool eventually(const std::function<bool()>& condition, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        turnOrSleep();
    }
    return true;
}

bool connected() {
    bool shown = false;
    onDialogThread([&shown] {
        QWidget* dialog = acquisitionDialog();
        auto* text = dialog ? dialog->findChild<QLabel*>("status_text") : nullptr;
        shown = text != nullptr && text->text() == "Device Connected !";
    });
    return shown;
}

Notifications& notifications() {
    static Notifications queue;
    return queue;
}

TW_UINT16 TW_CALLINGSTYLE onNotification(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                         TW_MEMREF) {
    Notifications& queue = notifications();
    {
        std::lock_guard lock(queue.mutex);
        queue.messages.push_back(msg);
    }
    queue.arrived.notify_all();
    return TWRC_SUCCESS;
}

bool waitFor(TW_UINT16 msg) {
    Notifications& queue = notifications();
    const auto deadline = Clock::now() + 300s;
    while (Clock::now() < deadline) {
        {
            std::unique_lock lock(queue.mutex);
            if (queue.arrived.wait_for(lock, 1ms, [&] {
                    return std::find(queue.messages.begin(), queue.messages.end(), msg) !=
                           queue.messages.end();
                })) {
                queue.messages.clear();
                return true;
            }
        }
        if (kMessageLoop) {
            turnOrSleep();
        }
    }
    return false;
}

// A sensor known to this machine, with its corrections, plugged on a private bus.
void prepareKnownSensor(const Sensor& sensor, const fs::path& bus, bool plainFrames) {
    const fs::path work = dataFolder() / "vanto_sensor" / "work_dir" / sensor.serial;
    fs::create_directories(work.parent_path());
    fs::copy(driverFolder() / sensor.product, work, fs::copy_options::recursive);
    fs::create_directories(work / "Correct" / "Default");
    std::ofstream(work / "Correct" / "Default" / "offset.dft") << "dark field";
    std::ofstream(work / "Correct" / "Default" / "gain.gn") << "gain";
    updateConfigFile([&sensor](ConfigFile& config) {
        std::string usbId = sensor.usbId;
        std::transform(usbId.begin(), usbId.end(), usbId.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        config.last_serial_number = sensor.serial;
        config.previous_serial_numbers.insert(sensor.serial);
        config.previous_serial_numbers_map[usbId] = sensor.serial;
    });
    sensorbus::SensorEntry entry;
    entry.usbId = sensor.usbId;
    entry.serial = sensor.serial;
    entry.product = sensor.product;
    entry.plainFrames = plainFrames;
    sensorbus::Bus(bus).plug(entry);
}

} // namespace benchsession
