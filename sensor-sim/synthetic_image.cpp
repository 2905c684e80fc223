// Each exposure looks at the sensor's anatomy (drawn once per sensor and frame size) from its own
// position: moved within the anatomy's margins, from either side of the mouth, the sensor turned over
// for the upper jaw or not, with its own dose. The detector records the beam, falling off towards the
// corners and along the anode side, times what the anatomy lets through, plus quantum noise.
#include "sensor-sim/synthetic_image.h"

#include "sensor-sim/anatomy.h"
#include "sensor-sim/sim_random.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace sensorsim {

namespace {

// Standard normal values drawn once; the noise of a pixel is one of them, picked at random.
constexpr std::size_t kNormalCount = 1 << 16;

const std::array<float, kNormalCount>& normalValues() {
    static const auto values = [] {
        std::array<float, kNormalCount> drawn{};
        Random random(0x5EED0F0A0D0151ull);
        for (auto& value : drawn) {
            value = static_cast<float>(random.gaussian());
        }
        return drawn;
    }();
    return values;
}

// Sixteen-bit picks from a xorshift generator, four per step.
class Picks {
public:
    explicit Picks(std::uint64_t seed) : state_(seed | 1) {}
    void fill(std::vector<std::uint16_t>& picks) {
        std::size_t i = 0;
        for (; i < picks.size(); i += 4) {
            std::uint64_t bits = step();
            for (std::size_t k = i; k < i + 4 && k < picks.size(); ++k, bits >>= 16) {
                picks[k] = static_cast<std::uint16_t>(bits);
            }
        }
    }

private:
    std::uint64_t step() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    std::uint64_t state_;
};

} // namespace

int deadStripRows(int height) {
    return std::max(2, height / 150);
}

std::vector<std::uint16_t> syntheticExposure(int width, int height, std::string_view serial,
                                             std::uint64_t exposureNumber) {
    if (width < 16 || height < 16) {
        return {};
    }
    const auto anatomy = anatomyOf(serial, width, height);
    Random random(mix64(hashText(serial) ^ mix64(exposureNumber)));
    const int left = static_cast<int>(random.next() % static_cast<std::uint64_t>(2 * anatomy->marginX + 1));
    const int top = static_cast<int>(random.next() % static_cast<std::uint64_t>(2 * anatomy->marginY + 1));
    const bool otherSide = random.chance(0.5);
    const bool upperJaw = random.chance(0.5);
    const double dose = random.range(0.8, 1.0);
    const double heel = random.range(0.03, 0.07);
    Picks picks(random.next());
    const auto& normal = normalValues();
    std::vector<std::uint16_t> noisePicks(static_cast<std::size_t>(width));

    // The beam: 60000 at the centre for a dose of 1, (1 - 0.18 (u^2 + v^2)) (1 + heel u) elsewhere,
    // with u and v the position across the frame from -0.5 to 0.5.
    std::vector<float> across(static_cast<std::size_t>(width)), falloff(across.size());
    std::vector<int> anatomyColumn(across.size());
    for (int col = 0; col < width; ++col) {
        const double u = (col + 0.5) / width - 0.5;
        across[col] = static_cast<float>(60000.0 * dose * (1.0 - 0.18 * u * u) * (1.0 + heel * u));
        falloff[col] = static_cast<float>(60000.0 * dose * 0.18 * (1.0 + heel * u));
        anatomyColumn[col] = left + (otherSide ? width - 1 - col : col);
    }

    std::vector<std::uint16_t> samples(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    const int lit = height - deadStripRows(height);
    constexpr float kToFraction = 1.0f / 65535.0f;
    for (int row = 0; row < lit; ++row) {
        const double v = (row + 0.5) / height - 0.5;
        const auto vv = static_cast<float>(v * v);
        const int anatomyRow = top + (upperJaw ? height - 1 - row : row);
        const std::uint16_t* passed =
            anatomy->transmission.data() + static_cast<std::size_t>(anatomyRow) * anatomy->width;
        std::uint16_t* out = samples.data() + static_cast<std::size_t>(row) * width;
        picks.fill(noisePicks);
        for (int col = 0; col < width; ++col) {
            const float beam = across[col] - falloff[col] * vv;
            const float signal = beam * static_cast<float>(passed[anatomyColumn[col]]) * kToFraction;
            const float noisy = signal + normal[noisePicks[col]] * std::sqrt(3.0f * signal + 1600.0f);
            out[col] = static_cast<std::uint16_t>(std::clamp(noisy, 1.0f, 65535.0f) + 0.5f);
        }
    }
    return samples;
}

std::vector<std::uint16_t> plainExposure(int width, int height, std::uint64_t exposureNumber) {
    if (width < 16 || height < 16) {
        return {};
    }
    std::vector<std::uint16_t> samples(static_cast<std::size_t>(width) * height, 0);
    const int lit = height - deadStripRows(height);
    for (int y = 0; y < lit; ++y) {
        const auto level = static_cast<std::uint16_t>(
            8000 + (static_cast<std::uint64_t>(y) * 40000 / lit + exposureNumber * 97) % 40000);
        std::fill_n(samples.begin() + static_cast<std::ptrdiff_t>(y) * width, width, level);
    }
    return samples;
}

} // namespace sensorsim
