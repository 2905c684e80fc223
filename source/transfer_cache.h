// The transfer rows of the image at the front of the queue, kept for the strips of a memory
// transfer that follow the first: formatting runs the whole optimization, a strip copies a few rows.
#pragma once

#include "imaging/image.h"

#include <memory>
#include <vector>

class TransferCache {
public:
    // The rows of `image` as format_image gives them without header (top row first, no padding),
    // formatted again only when the image or one of its adjustment values changed.
    const std::vector<char>& rows(const std::shared_ptr<Image>& image, int& width, int& height);
    void clear();
    // Whether rows() would answer `image` without formatting it again.
    bool holds(const std::shared_ptr<Image>& image) const;

private:
    struct Settings {
        double contrast = 0;
        int brightness = 0;
        bool enhance = false;
        double gamma = 0;
        bool upright = false;
        bool ultraHd = false;
        bool operator==(const Settings&) const = default;
    };
    static Settings settingsOf(const Image& image);

    std::shared_ptr<Image> image_;
    Settings settings_;
    std::vector<char> bytes_;
    int width_ = 0;
    int height_ = 0;
};
