// One X-ray image as the driver keeps it: inverted 16-bit samples plus the viewing settings the
// dialog chose for it. Shared between the image store, the dialog's tiles and the transfer.
#pragma once

#include <cstdint>
#include <vector>

// Threads: an Image is built completely before it is published (put into an ImageHolder), and its
// size, depth, samples and number never change afterwards; an image that must look different is
// replaced by a new one. The flags and adjustment values (contrast, brightness, enhance, gamma,
// upright, rendered, composite, ultraHd) are changed only on the thread the dialog lives on. The
// transfers read them on the application's thread only after a save, when the dialog no longer
// draws (it draws again only once it is shown again, and then no transfer is running).
struct Image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    // The detector's third descriptor value, kept as delivered; the composite capture stores 2.
    std::int32_t depth = 0;
    double contrast = 1.0;
    std::int32_t brightness = 0;
    // False only for the composite capture, which is shown and transferred without enhancement.
    bool enhance = true;
    double gamma = 0.68;
    // False for an image of a landscape tile: the optimization turns it a quarter turn clockwise.
    bool upright = true;
    // width * height samples, row-major, top row first.
    std::vector<std::uint16_t> pixels;
    // Set when the tile shows the image with its current settings; cleared by every adjustment.
    bool rendered = false;
    // The capture of the whole tile grid that precedes the tile images of a multi-tile save.
    bool composite = false;
    // Sequence number since the records were created; a retake keeps the number of the tile.
    std::int32_t number = 0;
    // Ultra HD processing (the stronger sharpening) for this image.
    bool ultraHd = true;

    Image() = default;

    // An exposure: copies width * height samples from `samples` and inverts each one (v becomes
    // 65535 - v). A landscape image is stored as delivered and marked not upright. Throws
    // std::invalid_argument when there are no samples or the size is not positive.
    Image(const int& width, const int& height, const int& depth, const unsigned short* samples,
          const int& number, bool landscape, bool ultraHd);
};
