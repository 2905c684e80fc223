// Cost of one tick of the acquisition dialog's clock while a tile with an image is selected: the tick
// redraws that image in the preview and in its tile. Compared with one optimization run of the same
// image, when nothing changed and right after an adjustment.
#include "bench/bench_support.h"
#include "imaging/perform_image_optimization.h"
#include "ui/my_application.h"
#include "ui/twaindialog.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The single-image template with one exposure, selected, drawn once.
class DialogWithImage {
public:
    DialogWithImage(int width, int height)
        : dialog(uiState, indexHandler, retaker, imageHolder, changeData, configFile, nullptr, true,
                 nullptr) {
        imageHolder->pushFront(bench::syntheticExposure(width, height));
        tick();
    }

    // What the clock does for the tiles and the preview.
    void tick() {
        const auto now = indexHandler->current();
        indexHandler->onChange(now.previous, now.selected);
        if (now.selected != -1) {
            dialog.tileViews()[now.selected]->onSelected(now.selected);
        }
        dialog.updatePreview();
        dialog.handle_image_change();
    }

    std::shared_ptr<UIState> uiState = std::make_shared<UIState>();
    std::shared_ptr<IndexHandler> indexHandler = std::make_shared<IndexHandler>();
    std::shared_ptr<Retaker> retaker = std::make_shared<Retaker>();
    std::shared_ptr<ImageHolder> imageHolder = std::make_shared<ImageHolder>();
    std::shared_ptr<ChangeData> changeData = std::make_shared<ChangeData>();
    std::shared_ptr<ConfigFile> configFile = std::make_shared<ConfigFile>();
    twaindialog dialog;
};

int width(const benchmark::State& state) {
    return static_cast<int>(state.range(0));
}
int height(const benchmark::State& state) {
    return static_cast<int>(state.range(1));
}

void BM_OptimizationRun(benchmark::State& state) {
    const auto image = bench::syntheticExposure(width(state), height(state));
    cv::Mat result;
    int w = 0, h = 0;
    for (auto _ : state) {
        perform_image_optimization(image, result, w, h);
        benchmark::DoNotOptimize(result.data);
    }
}

void BM_IdleTick(benchmark::State& state) {
    DialogWithImage shown(width(state), height(state));
    for (auto _ : state) {
        shown.tick();
    }
}

// Every tick follows a contrast change, as while the user moves the slider.
void BM_TickAfterAdjustment(benchmark::State& state) {
    DialogWithImage shown(width(state), height(state));
    bool high = false;
    for (auto _ : state) {
        high = !high;
        shown.configFile->image_presets.contrast = high ? 1.2 : 1.0;
        shown.tick();
    }
}

void sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"width", "height"});
    b->Args({1000, 1500});
    b->Args({1300, 1700});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_OptimizationRun)->Apply(sizes);
BENCHMARK(BM_IdleTick)->Apply(sizes);
BENCHMARK(BM_TickAfterAdjustment)->Apply(sizes);

std::string name(const char* benchmark, int w, int h) {
    return std::string(benchmark) + "/width:" + std::to_string(w) + "/height:" + std::to_string(h) +
           "/real_time";
}

void report(const bench::Times& times) {
    std::printf("\nRatios (real time per tick or run, measured in this run)\n");
    for (const auto& [w, h] : {std::pair{1000, 1500}, std::pair{1300, 1700}}) {
        const auto run = times.milliseconds(name("BM_OptimizationRun", w, h));
        const auto idle = times.milliseconds(name("BM_IdleTick", w, h));
        const auto adjusted = times.milliseconds(name("BM_TickAfterAdjustment", w, h));
        if (!run) {
            continue;
        }
        std::printf("%d x %d: one optimization run %.1f ms", w, h, *run);
        if (idle) {
            std::printf("   idle tick %.3f ms = %.2f %% of a run (limit 10 %%)", *idle, 100.0 * *idle / *run);
        }
        if (adjusted) {
            std::printf("   tick after an adjustment %.2f runs", *adjusted / *run);
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 0;
    MyApplication application(qtArgc, nullptr);
    return bench::runBenchmarks(argc, argv, report);
}
