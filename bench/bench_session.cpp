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
#include "bench/bench_session_driver.h"
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

namespace {

using namespace benchsession;

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
constexpr const char* kPeakName = "peak working set";
#else
constexpr const char* kPeakName = "peak resident";
#endif

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
