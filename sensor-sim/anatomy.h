// What a simulated sensor sees through: one scene of teeth (enamel, dentine, pulp, roots, perhaps a
// filling) in alveolar bone under soft tissue, drawn once per sensor and frame size on an area a
// little larger than the frame, so that each exposure can look at it from its own position.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace sensorsim {

struct Anatomy {
    int width = 0;   // the frame's width plus twice marginX
    int height = 0;  // the frame's height plus twice marginY
    int marginX = 0; // how far a view may move from the centre, each way
    int marginY = 0;
    // Fraction of the beam that reaches the detector behind each point (exp(-attenuation), blurred as
    // the detector's scintillator blurs), in 1/65535; width x height, row-major.
    std::vector<std::uint16_t> transmission;
};

// The anatomy of the sensor with this serial number for frames of this size. Drawn on the first call
// and kept for the next ones (the few sensors and sizes asked for last); any thread.
std::shared_ptr<const Anatomy> anatomyOf(std::string_view serial, int frameWidth, int frameHeight);

} // namespace sensorsim
