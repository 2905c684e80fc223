// The few pieces of Google Benchmark's interface that bench_session uses, for builds without the
// library (the Windows product's dependency cache has none): registration, the State loop with
// paused and manual timing, and a runner (bench_runner_lite.cpp) that prints one line per run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace benchmark {

enum TimeUnit { kMillisecond };

class State {
public:
    State(std::int64_t iterations, std::int64_t argument) : wanted_(iterations), argument_(argument) {}

    std::int64_t range(std::size_t) const { return argument_; }
    void PauseTiming();
    void ResumeTiming();
    void SetIterationTime(double seconds) { manualSeconds_ += seconds; }
    void SkipWithError(const char* message) {
        error_ = message;
        wanted_ = done_;
    }

    struct Iterator {
        State* state;
        bool operator!=(const Iterator&) const { return state->next(); }
        void operator++() {}
        // Of a type with a destructor of its own, so that an unused loop variable draws no warning.
        struct Value {
            ~Value() {}
        };
        Value operator*() const { return {}; }
    };
    Iterator begin() { return Iterator{this}; }
    Iterator end() { return Iterator{this}; }

    // For the runner.
    bool next();
    void setTimeBudget(double seconds) { budgetSeconds_ = seconds; }
    std::int64_t iterations() const { return done_; }
    double realSeconds() const { return realSeconds_; }
    double manualSeconds() const { return manualSeconds_; }
    const std::string& error() const { return error_; }

private:
    using Clock = std::chrono::steady_clock;
    std::int64_t wanted_; // 0: as many as fit in the time budget
    std::int64_t argument_;
    std::int64_t done_ = 0;
    bool started_ = false;
    bool running_ = false;
    double budgetSeconds_ = 0.5;
    double realSeconds_ = 0;
    double manualSeconds_ = 0;
    Clock::time_point resumed_{};
    std::string error_;
};

class Benchmark {
public:
    Benchmark(std::string name, void (*function)(State&)) : name_(std::move(name)), function_(function) {}
    Benchmark* Iterations(std::int64_t n) {
        iterations_ = n;
        return this;
    }
    Benchmark* UseManualTime() {
        manualTime_ = true;
        return this;
    }
    Benchmark* UseRealTime() {
        realTime_ = true;
        return this;
    }
    Benchmark* Unit(TimeUnit) { return this; }
    Benchmark* ArgName(const std::string& name) {
        argName_ = name;
        return this;
    }
    Benchmark* Arg(std::int64_t value) {
        arguments_.push_back(value);
        return this;
    }

    // The runs' names as Google Benchmark spells them ("BM_Name/arg:1/iterations:20/manual_time"),
    // each with its argument.
    std::vector<std::pair<std::string, std::int64_t>> runs() const;
    void (*function() const)(State&) { return function_; }
    std::int64_t iterations() const { return iterations_; }
    bool manualTime() const { return manualTime_; }

private:
    std::string name_;
    void (*function_)(State&);
    std::int64_t iterations_ = 0;
    bool manualTime_ = false;
    bool realTime_ = false;
    std::string argName_;
    std::vector<std::int64_t> arguments_;
};

std::vector<Benchmark*>& registeredBenchmarks();
Benchmark* registerBenchmark(const char* name, void (*function)(State&));

template <typename T> void DoNotOptimize(T const& value) {
    asm volatile("" : : "r,m"(value) : "memory");
}

} // namespace benchmark

#define OSTRA_LITE_CONCAT2(a, b) a##b
#define OSTRA_LITE_CONCAT(a, b) OSTRA_LITE_CONCAT2(a, b)
#define BENCHMARK(function)                                                                                  \
    static ::benchmark::Benchmark* OSTRA_LITE_CONCAT(liteBenchmark, __LINE__) [[maybe_unused]] =             \
        ::benchmark::registerBenchmark(#function, function)
