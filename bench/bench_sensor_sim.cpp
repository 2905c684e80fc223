// How quickly a simulated sensor answers an exposure request made on the virtual sensor bus (the
// target is that the exposure starts within 100 ms), and what computing its picture costs: a frame of
// a sensor seen before against a real sensor's 50 ms, and the first frame of a new sensor, which
// draws the sensor's anatomy.
#include "bench/bench_support.h"
#include "device/detector.h"
#include "sensor-sim/bus.h"
#include "sensor-sim/products.h"
#include "sensor-sim/synthetic_image.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kTargetMilliseconds = 100.0;
constexpr double kFrameTargetMilliseconds = 50.0;

// When the simulator's thread reported the last exposure start and the last image.
struct Arrivals {
    std::mutex mutex;
    std::condition_variable changed;
    Clock::time_point started;
    Clock::time_point imaged;
    int images = 0;
};

Arrivals arrivals;
std::atomic<CDetector*> listening{nullptr};

void FPD_CALL onEvent(std::int32_t id, std::int32_t event, std::int32_t level, const char* message,
                      std::int32_t param1, std::int32_t param2, std::int32_t length, void* data) {
    const auto now = Clock::now();
    if (CDetector* detector = listening.load()) {
        detector->processEvent(id, event, level, message, param1, param2, length, data);
    }
    {
        std::lock_guard lock(arrivals.mutex);
        if (event == fpd::kEvtTaskStarted && param1 == fpd::kCmdAcquisitionTask) {
            arrivals.started = now;
        } else if (event == fpd::kEvtImageReady) {
            arrivals.imaged = now;
            ++arrivals.images;
        }
    }
    arrivals.changed.notify_all();
}

// Third argument: 1 the time to event 1001 (the image), 0 the time to event 7 (the exposure start).
void BM_ExposureRequestToEvent(benchmark::State& state) {
    const fs::path root = fs::path(std::getenv("XDG_DATA_HOME")) / "sensor-sim";
    const fs::path bus = root / "bus", folder = root / "DS1_temp";
    fs::create_directories(bus);
    sensorbus::writeProductFile(folder, "DS1");
    setenv(sensorbus::kBusVariable, bus.c_str(), 1);
    const sensorbus::Bus sensors(bus);
    sensors.plug({"B1", "SN-BENCH", "DS1", std::nullopt});
    platform::setDriverFolder(fs::path(OSTRA_TWAIN_FOLDER));
    platform::addDriverFolderToSearchPath();

    CDetector detector;
    listening = &detector;
    const int created = detector.create(folder.generic_string(), onEvent);
    const int connected = created == 0 ? detector.invokeAndWait(fpd::kCmdConnect, 10000) : created;
    if (connected != 0) {
        state.SkipWithError(
            ("the simulated sensor did not connect: " + detector.errorText(connected)).c_str());
        return;
    }
    const bool toImage = state.range(0) != 0;
    for (auto _ : state) {
        int before = 0;
        {
            std::lock_guard lock(arrivals.mutex);
            before = arrivals.images;
        }
        const auto requested = Clock::now();
        sensors.requestExposures("B1", 1);
        std::unique_lock lock(arrivals.mutex);
        if (!arrivals.changed.wait_for(lock, std::chrono::seconds(30),
                                       [&] { return arrivals.images > before; })) {
            state.SkipWithError("no image arrived");
            break;
        }
        const auto end = toImage ? arrivals.imaged : arrivals.started;
        state.SetIterationTime(std::chrono::duration<double>(end - requested).count());
    }
    detector.destroy();
    listening = nullptr;
    sensors.unplug("B1");
}

void BM_SyntheticExposure(benchmark::State& state) {
    const auto& product = sensorbus::kProducts[static_cast<std::size_t>(state.range(0))];
    std::uint64_t number = 1;
    // The sensor's anatomy is drawn by its first exposure, measured below.
    benchmark::DoNotOptimize(
        sensorsim::syntheticExposure(product.width, product.height, "SN-BENCH", number++));
    for (auto _ : state) {
        auto samples = sensorsim::syntheticExposure(product.width, product.height, "SN-BENCH", number++);
        benchmark::DoNotOptimize(samples.data());
    }
}

// The first exposure of a sensor not seen before.
void BM_FirstExposureOfASensor(benchmark::State& state) {
    const auto& product = sensorbus::kProducts[static_cast<std::size_t>(state.range(0))];
    int sensor = 0;
    for (auto _ : state) {
        auto samples = sensorsim::syntheticExposure(product.width, product.height,
                                                    "SN-NEW-" + std::to_string(++sensor), 1);
        benchmark::DoNotOptimize(samples.data());
    }
}

BENCHMARK(BM_ExposureRequestToEvent)
    ->ArgName("image")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SyntheticExposure)
    ->ArgName("product")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FirstExposureOfASensor)
    ->ArgName("product")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void report(const bench::Times& times) {
    std::printf("\nRatios (measured in this run)\n");
    if (const auto start =
            times.milliseconds("BM_ExposureRequestToEvent/image:0/iterations:20/manual_time")) {
        std::printf("exposure request to exposure start %8.1f ms   target %.0f ms   ratio %.2f\n", *start,
                    kTargetMilliseconds, *start / kTargetMilliseconds);
    }
    for (std::size_t product = 0; product < std::size(sensorbus::kProducts); ++product) {
        const auto& size = sensorbus::kProducts[product];
        const std::string arg = "/product:" + std::to_string(product);
        if (const auto frame = times.milliseconds("BM_SyntheticExposure" + arg + "/real_time")) {
            std::printf("simulated frame %d x %d              %8.1f ms   target %.0f ms   ratio %.2f\n",
                        size.width, size.height, *frame, kFrameTargetMilliseconds,
                        *frame / kFrameTargetMilliseconds);
        }
        if (const auto first =
                times.milliseconds("BM_FirstExposureOfASensor" + arg + "/iterations:5/real_time")) {
            std::printf("  a new sensor's first frame (its anatomy drawn) %8.1f ms\n", *first);
        }
    }
    const auto image = times.milliseconds("BM_ExposureRequestToEvent/image:1/iterations:20/manual_time");
    const auto picture = times.milliseconds("BM_SyntheticExposure/product:0/real_time");
    if (image && picture) {
        std::printf(
            "exposure request to image (DS1)    %8.1f ms   of which the picture %.1f ms   ratio %.2f\n",
            *image, *picture, *picture / *image);
    }
}

} // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv, report);
}
