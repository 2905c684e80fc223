// The size of the picture that an image becomes when it is shown or transferred: the stored size for
// an upright image, width and height swapped for a landscape one (which is turned a quarter turn).
// Known without running the optimization, so the transfers can describe an image before formatting it.
#pragma once

#include "imaging/image.h"

struct PictureSize {
    int width = 0;
    int height = 0;
};

inline PictureSize pictureSize(const Image& image) {
    if (image.upright) {
        return {image.width, image.height};
    }
    return {image.height, image.width};
}
