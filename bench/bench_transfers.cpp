// The cost of the TWAIN transfers against the cost of formatting the image once, measured side by side:
// a whole image delivered in one-row memory strips, and a native transfer.
#include "bench/bench_support.h"
#include "imaging/format_image.h"
#include "source/my_source.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <vector>

namespace {

// The source with an image queue of its own, driven through its routers as an application would.
class BenchSource : public MySource {
public:
    BenchSource() { deviceWrapper = std::make_shared<DeviceWrapper>(); }
    void queue(std::shared_ptr<Image> image) {
        deviceWrapper->images->pushFront(std::move(image));
        setState(6);
    }
    TW_UINT16 send(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        TW_IDENTITY app{};
        app.Id = 1;
        return call(app, dg, dat, msg, data).returnCode;
    }
};

void sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"width", "height"});
    b->Args({1000, 1500});
    b->Args({1300, 1700});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void BM_FormatMemoryRows(benchmark::State& state) {
    auto image = bench::syntheticExposure(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    int width = 0, height = 0;
    for (auto _ : state) {
        auto bytes = format_image(image, width, height, false, false);
        benchmark::DoNotOptimize(bytes.data());
    }
}

void BM_FormatBitmap(benchmark::State& state) {
    auto image = bench::syntheticExposure(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    int width = 0, height = 0;
    for (auto _ : state) {
        auto bytes = format_image(image, width, height, true, true);
        benchmark::DoNotOptimize(bytes.data());
    }
}

void BM_MemoryTransferOneRowStrips(benchmark::State& state) {
    auto image = bench::syntheticExposure(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    BenchSource source;
    std::vector<char> row(static_cast<std::size_t>(image->width));
    for (auto _ : state) {
        source.queue(image);
        TW_UINT16 rc = TWRC_SUCCESS;
        while (rc == TWRC_SUCCESS) {
            TW_IMAGEMEMXFER strip{};
            strip.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            strip.Memory.Length = static_cast<TW_UINT32>(row.size());
            strip.Memory.TheMem = row.data();
            rc = source.send(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
        }
        if (rc != TWRC_XFERDONE) {
            state.SkipWithError("memory transfer failed");
            break;
        }
        benchmark::DoNotOptimize(row.data());
    }
}

void BM_NativeTransfer(benchmark::State& state) {
    auto image = bench::syntheticExposure(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    BenchSource source;
    for (auto _ : state) {
        source.queue(image);
        TW_HANDLE handle = nullptr;
        if (source.send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle) != TWRC_XFERDONE) {
            state.SkipWithError("native transfer failed");
            break;
        }
        Twpp::Memory::free(handle);
    }
}

void BM_FormatFullMouth18(benchmark::State& state) {
    const auto series = bench::fullMouth18Series(1000, 1500);
    int width = 0, height = 0;
    for (auto _ : state) {
        for (const auto& image : series) {
            auto bytes = format_image(image, width, height, false, false);
            benchmark::DoNotOptimize(bytes.data());
        }
    }
}

// What an application waits for a whole Full Mouth 18 series in one-row strips, ENDXFER included.
void BM_MemoryTransferFullMouth18(benchmark::State& state) {
    const auto series = bench::fullMouth18Series(1000, 1500);
    BenchSource source;
    const auto send = [&source](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return source.send(dg, dat, msg, data);
    };
    for (auto _ : state) {
        for (auto it = series.rbegin(); it != series.rend(); ++it) {
            source.queue(*it);
        }
        if (!bench::transferPending(send, false, 1, {})) {
            state.SkipWithError("memory transfer failed");
            return;
        }
    }
}

BENCHMARK(BM_FormatFullMouth18)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MemoryTransferFullMouth18)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FormatMemoryRows)->Apply(sizes);
BENCHMARK(BM_MemoryTransferOneRowStrips)->Apply(sizes);
BENCHMARK(BM_FormatBitmap)->Apply(sizes);
BENCHMARK(BM_NativeTransfer)->Apply(sizes);

std::string name(const char* benchmark, int width, int height) {
    return std::string(benchmark) + "/width:" + std::to_string(width) + "/height:" + std::to_string(height) +
           "/real_time";
}

void report(const bench::Times& times) {
    std::printf("\nRatios (real time per image, measured in this run)\n");
    const auto series = times.milliseconds("BM_MemoryTransferFullMouth18/real_time");
    const auto formatting = times.milliseconds("BM_FormatFullMouth18/real_time");
    if (series && formatting) {
        std::printf(
            "Full Mouth 18 series (composite + 18 images) by memory transfer in one-row strips: %8.1f ms "
            "= %.2f x formatting its 19 pictures\n",
            *series, *series / *formatting);
    }
    for (const auto& [width, height] : {std::pair{1000, 1500}, std::pair{1300, 1700}}) {
        const auto format = times.milliseconds(name("BM_FormatMemoryRows", width, height));
        const auto strips = times.milliseconds(name("BM_MemoryTransferOneRowStrips", width, height));
        const auto bitmap = times.milliseconds(name("BM_FormatBitmap", width, height));
        const auto native = times.milliseconds(name("BM_NativeTransfer", width, height));
        if (format && strips) {
            std::printf("memory transfer in %d one-row strips, %d x %d: %8.1f ms = %.2f x one format_image "
                        "(target at most 1.2)\n",
                        height, width, height, *strips, *strips / *format);
        }
        if (bitmap && native) {
            std::printf("native transfer, %d x %d:                       %8.1f ms = %.2f x one format_image "
                        "(target at most 1.1)\n",
                        width, height, *native, *native / *bitmap);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv, report);
}
