// One tile of a dental series template: where it sits in the dialog's tile area and how it is turned.
#pragma once

#include <cstdint>

struct GraphicLayout {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    // True for a portrait tile; an image placed in a landscape tile is shown a quarter turn clockwise.
    bool vertical = false;

    friend bool operator==(const GraphicLayout&, const GraphicLayout&) = default;
};
