// The simulator's random numbers: a fixed algorithm, so that every build and platform draws the same
// pictures from the same serial number and exposure number.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string_view>

namespace sensorsim {

inline std::uint64_t mix64(std::uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline std::uint64_t hashText(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() { return mix64(state_ += 0x9E3779B97F4A7C15ull); }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double range(double low, double high) { return low + (high - low) * uniform(); }
    bool chance(double p) { return uniform() < p; }
    double gaussian() {
        if (hasSpare_) {
            hasSpare_ = false;
            return spare_;
        }
        const double u1 = std::max(uniform(), 1e-300);
        const double u2 = uniform();
        const double radius = std::sqrt(-2.0 * std::log(u1));
        spare_ = radius * std::sin(2.0 * std::numbers::pi * u2);
        hasSpare_ = true;
        return radius * std::cos(2.0 * std::numbers::pi * u2);
    }

private:
    std::uint64_t state_;
    double spare_ = 0.0;
    bool hasSpare_ = false;
};

} // namespace sensorsim
