// The bytes the TWAIN transfers hand to the application: the optimized picture reduced to 8-bit grey,
// either as bare rows (memory transfer) or as a device-independent bitmap with a grey palette (native
// transfer).
#pragma once

#include "imaging/image.h"

#include <cstddef>
#include <memory>
#include <vector>

// Size of the bitmap information header (40 bytes) and the 256-entry grey palette that precede the
// rows of the native form.
inline constexpr std::size_t kBitmapHeaderSize = 1064;

// Bytes per row in the native form: `width` padded with zeros to a multiple of 4.
inline std::size_t bitmapRowStride(int width) {
    return (static_cast<std::size_t>(width) + 3) / 4 * 4;
}

// Runs perform_image_optimization on `image` and returns its picture in 8-bit grey (each 16-bit value
// divided by 257, rounded): `width` and `height` receive the picture's size (pictureSize(*image)).
// flip: rows bottom row first. withHeader: the bitmap header and palette first, rows padded to
// bitmapRowStride(width). The native transfer uses (true, true): kBitmapHeaderSize + height x stride
// bytes; the memory transfer (false, false): width x height bytes, top row first.
// Throws what perform_image_optimization throws. Keeps no state between calls.
std::vector<char> format_image(std::shared_ptr<Image> image, int& width, int& height, bool flip,
                               bool withHeader);
