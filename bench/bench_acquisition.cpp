// How long a dentist waits for an X-ray: from the exposure requested on the virtual sensor bus to
// its picture drawn in its tile of the acquisition dialog, with the built data source enabled
// through the stand-in DSM as an imaging application enables it. Compared with the dialog's clock
// period, which bounds how often new images are looked for.
#include "bench/bench_support.h"
#include "sensor-sim/bus.h"
#include "source/twpp/twain.h"
#include "support/config_file.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QWidget>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kSerial = "SN9001";
constexpr const char* kUsbId = "U9001";
constexpr int kFullMouth21 = 5;
constexpr double kClockMilliseconds = 200.0;

// Draws tiles in the dialog, on the thread where the source's Qt application object lives.
int drawnTiles() {
    int drawn = 0;
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return 0;
    }
    QMetaObject::invokeMethod(
        app,
        [&drawn] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (top->objectName() != "twaindialog") {
                    continue;
                }
                for (auto* view : top->findChild<QWidget*>("widget")->findChildren<QGraphicsView*>()) {
                    drawn +=
                        view->isVisible() && view->scene() != nullptr && !view->scene()->items().isEmpty();
                }
            }
        },
        Qt::BlockingQueuedConnection);
    return drawn;
}

bool waitForTiles(int count) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (drawnTiles() < count) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void prepareKnownSensor(const fs::path& bus) {
    const fs::path work = fs::path(std::getenv("XDG_DATA_HOME")) / "vanto_sensor" / "work_dir" / kSerial;
    fs::create_directories(work.parent_path());
    fs::copy(fs::path(OSTRA_TWAIN_FOLDER) / "DS1", work, fs::copy_options::recursive);
    fs::create_directories(work / "Correct" / "Default");
    std::ofstream(work / "Correct" / "Default" / "offset.dft") << "dark field";
    std::ofstream(work / "Correct" / "Default" / "gain.gn") << "gain";
    updateConfigFile([](ConfigFile& config) {
        config.last_serial_number = kSerial;
        config.previous_serial_numbers.insert(kSerial);
        config.previous_serial_numbers_map["u9001"] = kSerial;
    });
    sensorbus::SensorEntry entry;
    entry.usbId = kUsbId;
    entry.serial = kSerial;
    entry.product = "DS1";
    sensorbus::Bus(bus).plug(entry);
}

void BM_ExposureToTileDrawn(benchmark::State& state) {
    const fs::path bus = fs::path(std::getenv("XDG_DATA_HOME")) / "bus";
    fs::create_directories(bus);
    setenv("OSTRA_SENSOR_BUS", bus.c_str(), 1);
    setenv("OSTRA_TWAIN_DS_FOLDER", OSTRA_TWAIN_FOLDER, 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    prepareKnownSensor(bus);

    TW_IDENTITY app{};
    app.ProtocolMajor = 2;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    std::strcpy(app.ProductName, "Latency");
    TW_IDENTITY source{};
    std::strcpy(source.ProductName, "Vanto Sensor Twain");
    TW_USERINTERFACE ui{0, 0, nullptr};
    if (DSM_Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr) != TWRC_SUCCESS ||
        DSM_Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source) != TWRC_SUCCESS ||
        DSM_Entry(&app, &source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) {
        state.SkipWithError("the source could not be opened and enabled");
        return;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (auto* templates = top->findChild<QComboBox*>("dropdown")) {
                    templates->setCurrentIndex(kFullMouth21);
                }
            }
        },
        Qt::BlockingQueuedConnection);

    // The first exposure also waits for the sensor's connection; it is not counted.
    sensorbus::Bus sensors(bus);
    sensors.requestExposures(kUsbId, 1);
    int drawn = 1;
    if (!waitForTiles(drawn)) {
        state.SkipWithError("the first exposure never reached its tile");
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        sensors.requestExposures(kUsbId, 1);
        if (!waitForTiles(++drawn)) {
            state.SkipWithError("an exposure never reached its tile");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
    DSM_Entry(&app, &source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    DSM_Entry(&app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
    DSM_Entry(&app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr);
}

// Full Mouth 21 has room for the uncounted first exposure and 20 measured ones.
BENCHMARK(BM_ExposureToTileDrawn)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

void report(const bench::Times& times) {
    if (const auto latency = times.milliseconds("BM_ExposureToTileDrawn/iterations:20/manual_time")) {
        std::printf(
            "\nexposure requested to its tile drawn: %.1f ms = %.2f x the dialog's %.0f ms clock period\n",
            *latency, *latency / kClockMilliseconds, kClockMilliseconds);
    }
}

} // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv, report);
}
