// What a dentist waits for and what a session costs, through the built data source enabled by the
// stand-in DSM as an imaging application enables it, on a simulated sensor:
// - an exposure requested on the virtual sensor bus until its picture is drawn in its tile, against
//   one tick of the dialog's clock plus one enhancement of the exposure;
// - a Full Mouth 18 series from its last exposure to the last byte the application receives, by
//   native and by memory transfer (Auto Save hands the series over as soon as the last tile is drawn);
// - the peak resident memory of a Full Mouth 21 session of 1300 x 1700 exposures, in a fresh process
//   of its own, against the raw size of its frames, split into the fixed cost before the first
//   exposure, the frames and the working set;
// - the peak of a long run of 1000 exposures (plain frames, Full Mouth 21 and 18 in turn), in a fresh
//   process too (--no-long-run leaves it out).
// On Windows the program is a message-loop application, as the product's hosts are: every message goes
// to the source (MSG_PROCESSEVENT), the dialog's events turn on the program's own thread inside those
// calls, and the memory figures are the process's working set.
#include "bench/bench_support.h"
#include "imaging/perform_image_optimization.h"
#include "platform/app_data.h"
#include "platform/app_window.h"
#include "platform/own_process.h"
#include "sensor-sim/bus.h"
#include "sensor-sim/synthetic_image.h"
#include "support/config_file.h"
#include "ui/acquisition_dialog_lookup.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QWidget>

#include <benchmark/benchmark.h>
#include <opencv2/core/mat.hpp>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kFullMouth18 = 4;
constexpr int kFullMouth21 = 5;
constexpr double kClockMilliseconds = 200.0;
constexpr double kSeriesGoalMilliseconds = 1500.0;
constexpr const char* kMemoryChild = "--session-memory-child";
constexpr const char* kLongRunChild = "--long-run-memory-child";
constexpr const char* kNoLongRun = "--no-long-run";
constexpr int kLongRunExposures = 1000;
#ifdef _WIN32
constexpr bool kMessageLoop = true;
constexpr const char* kPeakName = "peak working set";
#else
constexpr bool kMessageLoop = false;
constexpr const char* kPeakName = "peak resident";
#endif

struct Sensor {
    const char* serial;
    const char* usbId;
    const char* product;
    int width;
    int height;
};
constexpr Sensor kDs1{"SN9001", "U9001", "DS1", 1000, 1500};
constexpr Sensor kDs2{"SN9002", "U9002", "DS2", 1300, 1700};

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

// Runs f on the thread where the source's Qt application object lives, and waits. With a message
// loop that is this thread.
template <typename F> void onDialogThread(F f) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        if (QThread::currentThread() == app->thread()) {
            f();
        } else {
            QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
        }
    }
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

bool eventually(const std::function<bool()>& condition, std::chrono::seconds timeout = 120s) {
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

// The source's notifications, posted on its own thread (Linux) or answered to MSG_PROCESSEVENT.
struct Notifications {
    std::mutex mutex; // guards messages
    std::condition_variable arrived;
    std::vector<TW_UINT16> messages;
};

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

// The source opened, negotiated and enabled through the DSM, its dialog on a series template with
// the sensor connected; disabled and closed again when it goes.
class Session {
public:
    Session(const Sensor& sensor, int templateIndex, bool native, bool autoSave, bool plainFrames = false) {
        const fs::path bus = busFolder();
        if (!fs::exists(bus)) {
            fs::create_directories(bus);
            prepareKnownSensor(sensor, bus, plainFrames);
        }
        qputenv("OSTRA_SENSOR_BUS", QByteArray::fromStdString(bus.string()));
        qputenv("OSTRA_TWAIN_DS_FOLDER", QByteArray::fromStdString(driverFolder().string()));
        if (!kMessageLoop && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        bus_ = bus;
        window_ = platform::createApplicationWindow("Session");
        usbId_ = sensor.usbId;

        app_.ProtocolMajor = 2;
        app_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
        std::strcpy(app_.ProductName, "Session");
        std::strcpy(source_.ProductName, "Vanto Sensor Twain");
        if (DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM,
                      window_ != 0 ? &window_ : nullptr) != TWRC_SUCCESS) {
            return;
        }
        memory_.Size = sizeof memory_;
        DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &memory_);
        if (DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_) != TWRC_SUCCESS) {
            return;
        }
        sourceOpen_ = true;
        TW_CALLBACK2 callback{};
        callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&onNotification);
        std::uint8_t mechanism[6] = {};
        const TW_UINT16 type = TWTY_UINT16;
        const TW_UINT32 value = native ? TWSX_NATIVE : TWSX_MEMORY;
        std::memcpy(mechanism, &type, 2);
        std::memcpy(mechanism + 2, &value, 4);
        TW_CAPABILITY xferMech{ICAP_XFERMECH, TWON_ONEVALUE, mechanism};
        TW_USERINTERFACE ui{1, 0, reinterpret_cast<TW_HANDLE>(window_)};
        // A message-loop application hears of its images in MSG_PROCESSEVENT's answers.
        if ((!kMessageLoop &&
             send(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback) != TWRC_SUCCESS) ||
            send(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &xferMech) != TWRC_SUCCESS) {
            return;
        }
        if (kMessageLoop) {
            messageLoopTurn() = [this] { turnMessages(); };
        }
        if (send(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) {
            return;
        }
        enabled_ = true;
        bool chosen = false;
        eventually([&] {
            onDialogThread([&] {
                QWidget* dialog = acquisitionDialog();
                auto* templates = dialog ? dialog->findChild<QComboBox*>("dropdown") : nullptr;
                auto* autoSaveButton =
                    dialog ? dialog->findChild<QAbstractButton*>("autoSaveButton") : nullptr;
                if (templates != nullptr && autoSaveButton != nullptr) {
                    templates->setCurrentIndex(templateIndex);
                    autoSaveButton->setChecked(autoSave);
                    chosen = true;
                }
            });
            return chosen;
        });
        ready_ = chosen && eventually(connected);
    }

    ~Session() {
        TW_USERINTERFACE ui{};
        if (enabled_) {
            TW_PENDINGXFERS reset{};
            send(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &reset);
            send(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        }
        if (sourceOpen_) {
            DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
        }
        DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, window_ != 0 ? &window_ : nullptr);
        messageLoopTurn() = nullptr;
        if (window_ != 0) {
            platform::destroyApplicationWindow(window_);
        }
        std::lock_guard lock(notifications().mutex);
        notifications().messages.clear();
    }

    bool ready() const { return ready_; }

    TW_UINT16 send(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return DSM_Entry(&app_, &source_, dg, dat, msg, data);
    }

    // Another template: its tiles start empty. The dialog asks before it erases the tiles' images: the
    // user says yes.
    void chooseTemplate(int templateIndex) {
        onDialogThread([templateIndex] {
            QWidget* dialog = acquisitionDialog();
            auto* templates = dialog ? dialog->findChild<QComboBox*>("dropdown") : nullptr;
            if (templates == nullptr || templates->currentIndex() == templateIndex) {
                return;
            }
            ui::answerNextQuestionYes(dialog);
            templates->setCurrentIndex(templateIndex);
        });
    }

    // `count` exposures, waited for until the dialog has drawn `drawnAfter` tiles.
    bool expose(int count, int drawnAfter) {
        sensorbus::Bus(bus_).requestExposures(usbId_, count);
        return eventually([drawnAfter] { return drawnTiles() >= drawnAfter; });
    }

    // MSG_XFERREADY, then every image transferred: the number of images, none on a failure.
    std::optional<int> receiveSeries(bool native) {
        if (!waitFor(MSG_XFERREADY)) {
            return std::nullopt;
        }
        return bench::transferPending([this](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                             void* data) { return send(dg, dat, msg, data); },
                                      native, 0, [this](TW_HANDLE handle) { memory_.DSM_MemFree(handle); });
    }

private:
    // Every message to the source first; its notifications go where the callback would put them.
    void turnMessages() {
        platform::turnApplicationMessages(
            window_,
            [this](void* message) {
                TW_EVENT event{message, MSG_NULL};
                const TW_UINT16 rc = send(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
                if (event.TWMessage == MSG_XFERREADY || event.TWMessage == MSG_CLOSEDSREQ) {
                    onNotification(nullptr, nullptr, 0, 0, event.TWMessage, nullptr);
                }
                return rc == TWRC_DSEVENT;
            },
            1ms);
    }

    platform::NativeWindow window_ = 0;
    TW_IDENTITY app_{};
    TW_IDENTITY source_{};
    TW_ENTRYPOINT memory_{};
    fs::path bus_;
    std::string usbId_;
    bool sourceOpen_ = false;
    bool enabled_ = false;
    bool ready_ = false;
};

void BM_ExposureToTileDrawn(benchmark::State& state) {
    Session session(kDs1, kFullMouth21, false, false);
    if (!session.ready()) {
        state.SkipWithError("the source could not be opened and enabled");
        return;
    }
    // The first exposure is not counted.
    int drawn = 1;
    if (!session.expose(1, drawn)) {
        state.SkipWithError("the first exposure never reached its tile");
        return;
    }
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!session.expose(1, ++drawn)) {
            state.SkipWithError("an exposure never reached its tile");
            break;
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    }
}

// What the dialog does to a new exposure before it draws it.
void BM_EnhanceExposure(benchmark::State& state) {
    const auto image = bench::syntheticExposure(kDs1.width, kDs1.height);
    cv::Mat result;
    int width = 0, height = 0;
    for (auto _ : state) {
        perform_image_optimization(image, result, width, height);
        benchmark::DoNotOptimize(result.data);
    }
}

// What the simulated sensor spends on making up a frame, inside the exposure's latency: a real
// sensor spends its read-out time there instead.
void BM_SimulatedFrame(benchmark::State& state) {
    std::uint64_t number = 0;
    for (auto _ : state) {
        auto frame = sensorsim::syntheticExposure(kDs1.width, kDs1.height, kDs1.serial, ++number);
        benchmark::DoNotOptimize(frame.data());
    }
}

// From the last exposure of a Full Mouth 18 series to the last byte the application receives.
void BM_FullMouth18LastExposureToLastByte(benchmark::State& state) {
    const bool native = state.range(0) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto session = std::make_unique<Session>(kDs1, kFullMouth18, native, true);
        if (!session->ready() || !session->expose(17, 17)) {
            state.SkipWithError("the first 17 exposures never reached their tiles");
            return;
        }
        state.ResumeTiming();
        session->expose(1, 0);
        const auto images = session->receiveSeries(native);
        state.PauseTiming();
        if (images != 19) {
            state.SkipWithError("the series did not arrive whole");
            return;
        }
        session.reset();
        state.ResumeTiming();
    }
}

BENCHMARK(BM_ExposureToTileDrawn)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EnhanceExposure)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SimulatedFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FullMouth18LastExposureToLastByte)
    ->ArgName("native")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Runs `session` (it records the resident memory once the source is enabled and says whether it did
// all it should) in the application-data folder the parent emptied for it, then prints the process's
// resident memory at its start, with the source enabled, and at its peak.
int reportMemoryOf(const std::function<bool(long& enabled)>& session) {
    const long baseline = platform::residentKilobytes();
    long enabled = 0;
    if (!session(enabled)) {
        return 1;
    }
    std::printf("%ld %ld %ld\n", baseline, enabled, platform::peakResidentKilobytes());
    return 0;
}

// The child: one Full Mouth 21 session of DS2 exposures, saved and transferred by memory.
int memoryChild() {
    return reportMemoryOf([](long& enabled) {
        Session session(kDs2, kFullMouth21, false, true);
        enabled = platform::residentKilobytes();
        // Auto Save hands the series over (and hides the dialog) once the last tile is drawn.
        return session.ready() && session.expose(21, 0) && session.receiveSeries(false) == 22;
    });
}

// The long-run child: kLongRunExposures plain DS1 exposures, Full Mouth 21 and Full Mouth 18 in turn
// (choosing a template empties the tiles, so every exposure is drawn).
int longRunChild() {
    return reportMemoryOf([](long& enabled) {
        int exposed = 0;
        Session session(kDs1, kFullMouth21, false, false, true);
        enabled = platform::residentKilobytes();
        for (int round = 0; session.ready() && exposed < kLongRunExposures; ++round) {
            const bool fullMouth21 = round % 2 == 0;
            session.chooseTemplate(fullMouth21 ? kFullMouth21 : kFullMouth18);
            const int tiles = std::min(fullMouth21 ? 21 : 18, kLongRunExposures - exposed);
            if (!eventually([] { return drawnTiles() == 0; }) || !session.expose(tiles, tiles)) {
                break;
            }
            exposed += tiles;
        }
        return exposed == kLongRunExposures;
    });
}

struct SessionMemory {
    long baseline = 0; // kB resident at the start of the process
    long enabled = 0;  // with the source enabled, before the first exposure
    long peak = 0;
};

// Runs a child (kMemoryChild or kLongRunChild) in a process of its own, on an emptied source folder
// and a bus of its own.
std::optional<SessionMemory> childMemory(const char* mode) {
    std::error_code ec;
    fs::remove_all(busFolder(), ec);
    fs::remove_all(dataFolder() / "vanto_sensor", ec);
    fs::create_directories(dataFolder() / "vanto_sensor", ec);
    const auto output = platform::runSelf(mode);
    SessionMemory memory;
    if (!output ||
        std::sscanf(output->c_str(), "%ld %ld %ld", &memory.baseline, &memory.enabled, &memory.peak) != 3) {
        return std::nullopt;
    }
    return memory;
}

bool longRun = true;

void report(const bench::Times& times) {
    std::printf("\n");
    const auto latency = times.milliseconds("BM_ExposureToTileDrawn/iterations:20/manual_time");
    const auto enhance = times.milliseconds("BM_EnhanceExposure/real_time");
    const auto frame = times.milliseconds("BM_SimulatedFrame/real_time");
    if (latency && enhance) {
        const double budget = kClockMilliseconds + *enhance;
        std::printf("exposure requested to its tile drawn: %.1f ms = %.2f x (one %.0f ms clock tick + one "
                    "enhancement of %.1f ms) (goal at most 1)\n",
                    *latency, *latency / budget, kClockMilliseconds, *enhance);
        if (frame) {
            std::printf(
                "  of which the simulated sensor makes up its frame: %.1f ms; the rest, %.1f ms = %.2f x "
                "the same budget\n",
                *frame, *latency - *frame, (*latency - *frame) / budget);
        }
    }
    for (const auto& [native, name] : {std::pair{1, "native"}, std::pair{0, "memory"}}) {
        const auto series =
            times.milliseconds("BM_FullMouth18LastExposureToLastByte/native:" + std::to_string(native) +
                               "/iterations:1/real_time");
        if (series) {
            std::printf(
                "Full Mouth 18, last exposure to last byte, %s transfer: %.1f ms = %.2f x %.0f ms (goal "
                "at most 1)\n",
                name, *series, *series / kSeriesGoalMilliseconds, kSeriesGoalMilliseconds);
            if (frame) {
                std::printf("  without the simulated sensor's frame: %.1f ms = %.2f x %.0f ms\n",
                            *series - *frame, (*series - *frame) / kSeriesGoalMilliseconds,
                            kSeriesGoalMilliseconds);
            }
        }
    }
    const double raw = 21.0 * kDs2.width * kDs2.height * 2 / 1024.0 / 1024.0;
    if (const auto memory = childMemory(kMemoryChild)) {
        const double peak = (memory->peak - memory->baseline) / 1024.0;
        const double fixed = (memory->enabled - memory->baseline) / 1024.0;
        const double added = peak - fixed;
        std::printf("Full Mouth 21 session of %d x %d exposures: %s %.1f MB over a fresh process's %.1f MB\n",
                    kDs2.width, kDs2.height, kPeakName, peak, memory->baseline / 1024.0);
        std::printf("  fixed cost before the first exposure (libraries, Qt, the dialog): %.1f MB\n", fixed);
        std::printf(
            "  what the exposures add: %.1f MB = %.2f x the %.1f MB of their raw frames (goal at most 1.5)\n",
            added, added / raw, raw);
        std::printf("    = the frames %.1f MB + the working set %.1f MB (chain, pictures, transfers, the "
                    "simulated sensor)\n",
                    raw, added - raw);
    } else {
        std::printf("Full Mouth 21 session: the child process failed\n");
    }
    if (!longRun) {
        return;
    }
    if (const auto memory = childMemory(kLongRunChild)) {
        const double fixed = (memory->enabled - memory->baseline) / 1024.0;
        const double peak = (memory->peak - memory->baseline) / 1024.0;
        std::printf(
            "Long run of %d exposures (plain %d x %d frames, Full Mouth 21 and 18 in turn): %s %.1f MB over "
            "a fresh process's %.1f MB; %.1f MB over the enabled source's %.1f MB\n",
            kLongRunExposures, kDs1.width, kDs1.height, kPeakName, peak, memory->baseline / 1024.0,
            peak - fixed, fixed);
    } else {
        std::printf("Long run: the child process failed\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], kMemoryChild) == 0) {
        return memoryChild();
    }
    if (argc == 2 && std::strcmp(argv[1], kLongRunChild) == 0) {
        return longRunChild();
    }
    std::vector<char*> arguments(argv, argv + argc);
    const auto without = std::remove_if(arguments.begin() + 1, arguments.end(), [](const char* argument) {
        return std::strcmp(argument, kNoLongRun) == 0;
    });
    longRun = without == arguments.end();
    arguments.erase(without, arguments.end());
    const int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    return bench::runBenchmarks(count, arguments.data(), report);
}
