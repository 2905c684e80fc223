// Cost of the optimization chain against its two filters alone, and of the transfer formatting that
// the transfer benchmarks compare against.
#include "bench/bench_support.h"
#include "imaging/format_image.h"
#include "imaging/optimization_steps.h"
#include "imaging/perform_image_optimization.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <string>

namespace {

std::shared_ptr<Image> exposure(const benchmark::State& state) {
    auto image = bench::syntheticExposure(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    image->ultraHd = state.range(2) != 0;
    return image;
}

void BM_PerformImageOptimization(benchmark::State& state) {
    const auto image = exposure(state);
    cv::Mat result;
    int width = 0, height = 0;
    for (auto _ : state) {
        perform_image_optimization(image, result, width, height);
        benchmark::DoNotOptimize(result.data);
    }
}

// The same with the kept intermediates freed before every call, to show what reusing them saves.
void BM_PerformImageOptimizationNewBuffers(benchmark::State& state) {
    const auto image = exposure(state);
    cv::Mat result;
    int width = 0, height = 0;
    for (auto _ : state) {
        releaseOptimizationBuffers();
        perform_image_optimization(image, result, width, height);
        benchmark::DoNotOptimize(result.data);
    }
}

// Only the chain's GaussianBlur and bilateralFilter calls, on the matrices the chain gives them.
void BM_BlurAndBilateral(benchmark::State& state) {
    const auto image = exposure(state);
    const double sigma = image->ultraHd ? optimization::kUltraHdSigma : optimization::kHdSigma;
    const double amount = image->ultraHd ? optimization::kUltraHdAmount : optimization::kHdAmount;

    const cv::Mat stored(image->height, image->width, CV_16UC1, image->pixels.data());
    cv::Mat masked, mask, mask8, normalized, unit, sharpened;
    maskSaturated(stored, masked, mask);
    cv::convertScaleAbs(mask, mask8, 1.0 / 257, 0);
    cv::normalize(masked, normalized, 0, 65535, cv::NORM_MINMAX, -1, mask8);
    normalized.convertTo(unit, CV_32F, 1.0 / 65535);
    cv::GaussianBlur(unit, sharpened, cv::Size(0, 0), sigma, 0, cv::BORDER_REFLECT_101);
    cv::addWeighted(unit, 1.0 + amount, sharpened, -amount, 0, sharpened);
    clampImage(sharpened, 0.0, 1.0);

    cv::Mat blurred, smoothed;
    for (auto _ : state) {
        cv::GaussianBlur(unit, blurred, cv::Size(0, 0), sigma, 0, cv::BORDER_REFLECT_101);
        cv::bilateralFilter(sharpened, smoothed, optimization::kBilateralDiameter,
                            optimization::kBilateralSigmaColour, optimization::kBilateralSigmaSpace,
                            cv::BORDER_REFLECT_101);
        benchmark::DoNotOptimize(blurred.data);
        benchmark::DoNotOptimize(smoothed.data);
    }
}

// Third argument: 1 the native form (bitmap, bottom-up), 0 the memory form.
void BM_FormatImage(benchmark::State& state) {
    auto image = bench::syntheticExposure(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const bool native = state.range(2) != 0;
    int width = 0, height = 0;
    for (auto _ : state) {
        auto bytes = format_image(image, width, height, native, native);
        benchmark::DoNotOptimize(bytes.data());
    }
}

void exposureSizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"width", "height", "ultraHd"});
    for (const auto& [width, height] : {std::pair{1000, 1500}, std::pair{1300, 1700}}) {
        for (const int ultraHd : {1, 0}) {
            b->Args({width, height, ultraHd});
        }
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void formatSizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"width", "height", "native"});
    for (const auto& [width, height] : {std::pair{1000, 1500}, std::pair{1300, 1700}}) {
        for (const int native : {1, 0}) {
            b->Args({width, height, native});
        }
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_PerformImageOptimization)->Apply(exposureSizes);
BENCHMARK(BM_PerformImageOptimizationNewBuffers)->Apply(exposureSizes);
BENCHMARK(BM_BlurAndBilateral)->Apply(exposureSizes);
BENCHMARK(BM_FormatImage)->Apply(formatSizes);

std::string name(const char* benchmark, int width, int height, const char* third, int value) {
    return std::string(benchmark) + "/width:" + std::to_string(width) + "/height:" + std::to_string(height) +
           "/" + third + ":" + std::to_string(value) + "/real_time";
}

void report(const bench::Times& times) {
    std::printf("\nRatios (real time per image, measured in this run)\n");
    for (const auto& [width, height] : {std::pair{1000, 1500}, std::pair{1300, 1700}}) {
        for (const int ultraHd : {1, 0}) {
            const auto chain =
                times.milliseconds(name("BM_PerformImageOptimization", width, height, "ultraHd", ultraHd));
            const auto filters =
                times.milliseconds(name("BM_BlurAndBilateral", width, height, "ultraHd", ultraHd));
            const auto fresh = times.milliseconds(
                name("BM_PerformImageOptimizationNewBuffers", width, height, "ultraHd", ultraHd));
            if (!chain) {
                continue;
            }
            std::printf("perform_image_optimization %d x %d %-8s %8.1f ms", width, height,
                        ultraHd ? "Ultra HD" : "HD", *chain);
            if (filters) {
                std::printf("   GaussianBlur + bilateralFilter alone %8.1f ms   ratio %.2f", *filters,
                            *chain / *filters);
            }
            if (fresh) {
                std::printf("   with new buffers every call %.2f x", *fresh / *chain);
            }
            std::printf("\n");
        }
    }
    for (const auto& [width, height] : {std::pair{1000, 1500}, std::pair{1300, 1700}}) {
        const auto native = times.milliseconds(name("BM_FormatImage", width, height, "native", 1));
        const auto memory = times.milliseconds(name("BM_FormatImage", width, height, "native", 0));
        const auto chain =
            times.milliseconds(name("BM_PerformImageOptimization", width, height, "ultraHd", 1));
        if (native && memory) {
            std::printf("format_image %d x %d: native %.1f ms, memory %.1f ms per image", width, height,
                        *native, *memory);
            if (chain) {
                std::printf(" (native / perform_image_optimization %.2f)", *native / *chain);
            }
            std::printf("\n");
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    return bench::runBenchmarks(argc, argv, report);
}
