// Rearranging the samples of an image for the rotate and flip buttons.
#include "ui/turned_image.h"

#include <cstddef>
#include <cstdint>

std::shared_ptr<Image> turnedImage(const Image& image, ImageTurn turn) {
    const int w = image.width;
    const int h = image.height;
    const bool quarterTurn = turn == ImageTurn::Rotate || turn == ImageTurn::RotateCCW;

    auto turned = std::make_shared<Image>();
    turned->width = quarterTurn ? h : w;
    turned->height = quarterTurn ? w : h;
    turned->depth = image.depth;
    turned->contrast = image.contrast;
    turned->brightness = image.brightness;
    turned->enhance = true;
    // The transferred document number and the user's gamma belong to the picture, not to its turn.
    turned->gamma = image.gamma;
    turned->number = image.number;
    turned->upright = image.upright;
    turned->ultraHd = image.ultraHd;
    turned->rendered = false;
    turned->composite = false;

    if (w <= 0 || h <= 0 ||
        image.pixels.size() != static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {
        return turned;
    }
    const auto old = [&](int row, int column) {
        return image.pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(w) +
                            static_cast<std::size_t>(column)];
    };
    const int newWidth = turned->width;
    const int newHeight = turned->height;
    turned->pixels.resize(image.pixels.size());
    for (int r = 0; r < newHeight; ++r) {
        std::uint16_t* row =
            turned->pixels.data() + static_cast<std::size_t>(r) * static_cast<std::size_t>(newWidth);
        for (int k = 0; k < newWidth; ++k) {
            switch (turn) {
            case ImageTurn::Rotate:
                row[k] = old(k, w - 1 - r);
                break;
            case ImageTurn::RotateCCW:
                row[k] = old(h - 1 - k, r);
                break;
            case ImageTurn::FlipVertical:
                row[k] = old(r, w - 1 - k);
                break;
            case ImageTurn::FlipHorizontal:
                row[k] = old(h - 1 - r, k);
                break;
            }
        }
    }
    return turned;
}
