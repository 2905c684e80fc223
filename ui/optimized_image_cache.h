// The pictures the acquisition dialog draws, kept per image for its current adjustment values and
// orientation. The dialog's clock redraws the selected image on every tick; with this cache a tick
// in which nothing changed shows the pictures made before instead of optimizing the image again.
#pragma once

#include "imaging/image.h"

#include <QtCore/QSize>
#include <QtGui/QImage>
#include <QtGui/QPixmap>

#include <opencv2/core/mat.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// The optimization: fills a 16-bit grey matrix and its width and height from an image.
using ImageOptimizer = std::function<void(std::shared_ptr<Image>, cv::Mat&, int&, int&)>;

// Application's thread only. An image's samples never change (a changed image is a new Image), so an
// entry is valid while the image lives and its viewing settings are the ones it was made with.
// Memory: one full-size picture at most, every picture of the image drawn last, and of every other
// image only its smallest picture (its tile's), so that the larger preview pictures of a series do
// not pile up.
class OptimizedImageCache {
public:
    explicit OptimizedImageCache(ImageOptimizer optimizer);

    // The optimized picture of `image`, scaled into `size` keeping its aspect ratio (smooth). The
    // optimization runs only when the image is new to the cache or one of its viewing settings
    // changed since the last call.
    QPixmap picture(const std::shared_ptr<Image>& image, QSize size);
    // Forgets every picture.
    void clear();

    // How often the optimization ran.
    std::size_t optimizationCount() const { return optimizations; }
    std::size_t entryCount() const { return entries.size(); }
    // Pictures kept, over all entries.
    std::size_t pictureCount() const;

private:
    // Everything besides the samples that the optimization reads.
    struct Settings {
        double contrast;
        std::int32_t brightness;
        double gamma;
        bool upright;
        bool enhance;
        bool ultraHd;
        friend bool operator==(const Settings&, const Settings&) = default;
    };
    struct Entry {
        std::weak_ptr<Image> image;
        const Image* address;
        Settings settings;
        // Scaled pictures by target size (a tile's and the preview's).
        std::map<std::pair<int, int>, QPixmap> pictures;
    };

    ImageOptimizer optimizer;
    std::vector<Entry> entries;
    // The full-size optimized picture of the image optimized last (the optimization's own matrix,
    // not a copy), kept until the other view of the same image has been drawn, then released; only
    // one, as a full picture is large. Only pictures at a view's size are kept beyond that.
    const Image* lastAddress = nullptr;
    Settings lastSettings{};
    cv::Mat lastPicture;
    std::size_t optimizations = 0;

    static Settings settingsOf(const Image& image);
    cv::Mat optimize(const std::shared_ptr<Image>& image);
};
