#include "source/transfer_cache.h"

#include "imaging/format_image.h"

TransferCache::Settings TransferCache::settingsOf(const Image& image) {
    return Settings{image.contrast, image.brightness, image.enhance,
                    image.gamma,    image.upright,    image.ultraHd};
}

bool TransferCache::holds(const std::shared_ptr<Image>& image) const {
    return image_ && image_ == image && settings_ == settingsOf(*image);
}

const std::vector<char>& TransferCache::rows(const std::shared_ptr<Image>& image, int& width, int& height) {
    if (!holds(image)) {
        clear();
        bytes_ = format_image(image, width_, height_, false, false);
        image_ = image;
        settings_ = settingsOf(*image);
    }
    width = width_;
    height = height_;
    return bytes_;
}

void TransferCache::clear() {
    image_.reset();
    bytes_.clear();
    bytes_.shrink_to_fit();
    width_ = 0;
    height_ = 0;
}
