#include "bench/bench_support.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {

class RecordingReporter : public benchmark::ConsoleReporter {
public:
    // Coloured only on a terminal, so that a saved report stays plain text.
    explicit RecordingReporter(Times& times)
        : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular), times_(times) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) {
                continue;
            }
            const double seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
            times_.record(run.run_name.str(), seconds * 1000.0);
        }
    }

private:
    Times& times_;
};

} // namespace

std::optional<double> Times::milliseconds(const std::string& name) const {
    const auto found = times_.find(name);
    if (found == times_.end() || found->second.empty()) {
        return std::nullopt;
    }
    auto values = found->second;
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::shared_ptr<Image> syntheticExposure(int width, int height) {
    auto image = std::make_shared<Image>();
    image->width = width;
    image->height = height;
    image->pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));

    std::uint32_t seed = 0x2545F491u;
    const auto noise = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>(seed >> 22) - 512; // about +-512
    };
    const int teeth = 3;
    const int saturatedFrom = width - std::max(1, width / 40);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double value = 9000.0 + 6000.0 * y / height; // bone towards the roots
            for (int t = 0; t < teeth; ++t) {
                const double cx = (t + 0.5) * width / teeth;
                const double dx = (x - cx) / (width / (2.6 * teeth));
                const double dy = (y - height * 0.45) / (height * 0.42);
                const double r = dx * dx + dy * dy;
                if (r < 1.0) {
                    value += 30000.0 * (1.0 - r * r);
                    if (r < 0.12) {
                        value -= 12000.0; // pulp
                    }
                }
            }
            value += noise();
            auto& sample = image->pixels[static_cast<std::size_t>(y) * width + x];
            sample = x >= saturatedFrom ? 65535 : static_cast<std::uint16_t>(std::clamp(value, 0.0, 65534.0));
        }
    }
    return image;
}

int runBenchmarks(int argc, char** argv, const std::function<void(const Times&)>& report) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostra-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return 2;
    }
    const std::filesystem::path root(pattern);
    std::error_code ec;
    std::filesystem::create_directories(root / "vanto_sensor", ec);
    setenv("XDG_DATA_HOME", root.c_str(), 1);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        std::filesystem::remove_all(root, ec);
        return 1;
    }
    Times times;
    RecordingReporter reporter(times);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    report(times);

    std::filesystem::remove_all(root, ec);
    return 0;
}

} // namespace bench
