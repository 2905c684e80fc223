#include "bench/bench_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

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

} // namespace bench
