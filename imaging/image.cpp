#include "imaging/image.h"

#include <algorithm>
#include <stdexcept>

Image::Image(const int& width, const int& height, const int& depth, const unsigned short* samples,
             const int& number, bool landscape, bool ultraHd)
    : width(width), height(height), depth(depth), upright(!landscape), number(number), ultraHd(ultraHd) {
    if (samples == nullptr || width <= 0 || height <= 0) {
        throw std::invalid_argument("image frame has no pixels");
    }
    const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    pixels.resize(count);
    std::transform(samples, samples + count, pixels.begin(),
                   [](unsigned short v) { return static_cast<std::uint16_t>(0xFFFF - v); });
}
