// The benchmarks' main with Google Benchmark: its console output, then the ratios.
#include "bench/bench_support.h"

#include <benchmark/benchmark.h>

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
