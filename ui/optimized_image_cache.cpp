#include "ui/optimized_image_cache.h"

#include "support/log.h"

#include <algorithm>
#include <exception>
#include <string>

OptimizedImageCache::OptimizedImageCache(ImageOptimizer optimizer) : optimizer(std::move(optimizer)) {}

OptimizedImageCache::Settings OptimizedImageCache::settingsOf(const Image& image) {
    return {image.contrast, image.brightness, image.gamma, image.upright, image.enhance, image.ultraHd};
}

QImage OptimizedImageCache::optimize(const std::shared_ptr<Image>& image) {
    if (!optimizer) {
        return QImage();
    }
    cv::Mat result;
    int width = 0;
    int height = 0;
    ++optimizations;
    // An image the optimization cannot take (one without samples, for example) shows as an empty
    // tile; the failure is kept with the picture, so it is not retried on every tick.
    try {
        optimizer(image, result, width, height);
    } catch (const std::exception& e) {
        writeString2(std::string("exception: ") + e.what());
        return QImage();
    }
    if (result.empty() || result.type() != CV_16UC1 || width <= 0 || height <= 0) {
        return QImage();
    }
    // The matrix goes away with this call; the picture keeps its own copy of the samples.
    return QImage(result.data, width, height, static_cast<int>(result.step), QImage::Format_Grayscale16)
        .copy();
}

QPixmap OptimizedImageCache::picture(const std::shared_ptr<Image>& image, QSize size) {
    if (!image) {
        return QPixmap();
    }
    // Entries of released images are dropped, so that a new image at a reused address is not
    // mistaken for the old one.
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const Entry& entry) { return entry.image.expired(); }),
                  entries.end());
    if (lastAddress && std::none_of(entries.begin(), entries.end(),
                                    [this](const Entry& entry) { return entry.address == lastAddress; })) {
        lastAddress = nullptr;
        lastPicture = QImage();
    }

    const Settings settings = settingsOf(*image);
    auto entry = std::find_if(entries.begin(), entries.end(),
                              [&](const Entry& e) { return e.address == image.get(); });
    if (entry == entries.end()) {
        entries.push_back(Entry{image, image.get(), settings, {}});
        entry = std::prev(entries.end());
    } else if (!(entry->settings == settings)) {
        entry->settings = settings;
        entry->pictures.clear();
    }

    const std::pair<int, int> key{size.width(), size.height()};
    if (auto found = entry->pictures.find(key); found != entry->pictures.end()) {
        return found->second;
    }

    if (lastAddress != image.get() || !(lastSettings == settings)) {
        lastPicture = optimize(image);
        lastAddress = image.get();
        lastSettings = settings;
    }
    QPixmap scaled;
    if (!lastPicture.isNull()) {
        scaled = QPixmap::fromImage(lastPicture).scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    entry->pictures.emplace(key, scaled);
    return scaled;
}

void OptimizedImageCache::clear() {
    entries.clear();
    lastAddress = nullptr;
    lastPicture = QImage();
}
