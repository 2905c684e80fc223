// The benchmarks' main without Google Benchmark (lite/benchmark/benchmark.h): runs the registered
// benchmarks the command line selects (--benchmark_filter=REGEX, --benchmark_repetitions=N), one line
// per run, then the ratios. The source's files go to the user's local application-data folder (on
// Windows the source finds no other): the run refuses to start when it already holds the source's
// folder, and removes the folder it made at the end.
#include "bench/bench_support.h"
#include "platform/app_data.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <system_error>

namespace benchmark {

void State::PauseTiming() {
    if (running_) {
        realSeconds_ += std::chrono::duration<double>(Clock::now() - resumed_).count();
        running_ = false;
    }
}

void State::ResumeTiming() {
    resumed_ = Clock::now();
    running_ = true;
}

bool State::next() {
    if (!started_) {
        started_ = true;
        ResumeTiming();
    } else {
        ++done_;
    }
    double elapsed = realSeconds_;
    if (running_) {
        elapsed += std::chrono::duration<double>(Clock::now() - resumed_).count();
    }
    const bool more =
        error_.empty() && (wanted_ > 0 ? done_ < wanted_ : done_ == 0 || elapsed < budgetSeconds_);
    if (!more) {
        PauseTiming();
    }
    return more;
}

std::vector<std::pair<std::string, std::int64_t>> Benchmark::runs() const {
    std::string suffix;
    if (iterations_ > 0) {
        suffix += "/iterations:" + std::to_string(iterations_);
    }
    suffix += manualTime_ ? "/manual_time" : realTime_ ? "/real_time" : "";
    if (arguments_.empty()) {
        return {{name_ + suffix, 0}};
    }
    std::vector<std::pair<std::string, std::int64_t>> runs;
    for (const auto argument : arguments_) {
        runs.emplace_back(name_ + "/" + argName_ + ":" + std::to_string(argument) + suffix, argument);
    }
    return runs;
}

std::vector<Benchmark*>& registeredBenchmarks() {
    static std::vector<Benchmark*> benchmarks;
    return benchmarks;
}

Benchmark* registerBenchmark(const char* name, void (*function)(State&)) {
    registeredBenchmarks().push_back(new Benchmark(name, function));
    return registeredBenchmarks().back();
}

} // namespace benchmark

namespace bench {

namespace {

// The filter and the number of repetitions the arguments give; false (and a message) for one it does
// not know.
bool parseArguments(int argc, char** argv, std::string& filter, int& repetitions) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--benchmark_filter=", 0) == 0) {
            filter = argument.substr(std::strlen("--benchmark_filter="));
        } else if (argument.rfind("--benchmark_repetitions=", 0) == 0) {
            repetitions = std::atoi(argument.c_str() + std::strlen("--benchmark_repetitions="));
            if (repetitions < 1) {
                std::fprintf(stderr, "%s: --benchmark_repetitions needs a number of at least 1\n", argv[0]);
                return false;
            }
        } else {
            std::fprintf(stderr, "%s: unrecognized command-line flag: %s\n", argv[0], argv[i]);
            return false;
        }
    }
    return true;
}

} // namespace

int runBenchmarks(int argc, char** argv, const std::function<void(const Times&)>& report) {
    std::string filter = ".";
    int repetitions = 1;
    if (!parseArguments(argc, argv, filter, repetitions)) {
        return 1;
    }
    std::regex selected;
    try {
        selected = std::regex(filter);
    } catch (const std::regex_error&) {
        std::fprintf(stderr, "%s: --benchmark_filter=%s is not a regular expression\n", argv[0],
                     filter.c_str());
        return 1;
    }
    const auto appData = platform::localAppDataFolder();
    if (!appData) {
        std::fprintf(stderr, "%s: the system names no local application-data folder\n", argv[0]);
        return 2;
    }
    const auto sourceFolder = *appData / "vanto_sensor";
    if (std::filesystem::exists(sourceFolder)) {
        std::fprintf(
            stderr,
            "%s: %s exists: the benchmarks write and remove the source's folder, so they run only "
            "in a user profile without one (scripts/bench --windows makes a wine prefix of its own)\n",
            argv[0], sourceFolder.string().c_str());
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(sourceFolder, ec);

    Times times;
    for (auto* benchmark : benchmark::registeredBenchmarks()) {
        for (const auto& [name, argument] : benchmark->runs()) {
            if (!std::regex_search(name, selected)) {
                continue;
            }
            for (int repetition = 0; repetition < repetitions; ++repetition) {
                benchmark::State state(benchmark->iterations(), argument);
                benchmark->function()(state);
                state.PauseTiming();
                if (!state.error().empty() || state.iterations() == 0) {
                    std::printf("%-60s ERROR OCCURRED: '%s'\n", name.c_str(), state.error().c_str());
                    continue;
                }
                const double seconds = benchmark->manualTime() ? state.manualSeconds() : state.realSeconds();
                const double milliseconds = seconds * 1000.0 / static_cast<double>(state.iterations());
                std::printf("%-60s %12.2f ms %10lld\n", name.c_str(), milliseconds,
                            static_cast<long long>(state.iterations()));
                std::fflush(stdout);
                times.record(name, milliseconds);
            }
        }
    }
    report(times);

    std::filesystem::remove_all(sourceFolder, ec);
    return 0;
}

} // namespace bench
