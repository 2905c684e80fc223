// The simulated sensor's picture: a dental intra-oral radiograph of the sensor's anatomy (teeth with
// enamel, dentine, pulp and roots in alveolar bone under soft tissue), seen from the exposure's own
// position with its own dose and quantum noise.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace sensorsim {

// Raw detector samples of one exposure, width x height, row-major, top row first. As on a real
// detector, dense tissue lets fewer X-rays through: teeth are low, soft tissue and air high, and
// the picture reads as a radiograph once inverted. The rows along the bottom edge are a dead strip
// of 0, which reads 65535 once inverted. The same serial number and exposure number (counted from
// 1) always give the same samples; other exposures show the teeth from another position, side or jaw,
// with another dose and noise. The first exposure of a sensor and size draws its anatomy (a few
// hundred milliseconds); later ones take a few milliseconds. Empty for a size below 16 x 16.
std::vector<std::uint16_t> syntheticExposure(int width, int height, std::string_view serial,
                                             std::uint64_t exposureNumber);

// A plain exposure for runs of many exposures: a ramp across the rows, shifted by the exposure number,
// over the same dead strip. Empty for a size below 16 x 16.
std::vector<std::uint16_t> plainExposure(int width, int height, std::uint64_t exposureNumber);

// Number of rows of the dead strip along the bottom edge for a given image height.
int deadStripRows(int height);

} // namespace sensorsim
