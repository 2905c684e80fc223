#include "ui/optimized_image_cache.h"

#include "support/log.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <exception>
#include <string>

OptimizedImageCache::OptimizedImageCache(ImageOptimizer optimizer) : optimizer(std::move(optimizer)) {}

OptimizedImageCache::Settings OptimizedImageCache::settingsOf(const Image& image) {
    return {image.contrast, image.brightness, image.gamma, image.upright, image.enhance, image.ultraHd};
}

namespace {

// The picture fitted into `size` keeping its aspect ratio, averaged down from the full picture in
// 16 bits; only the small picture is converted for display.
QPixmap fitted(const cv::Mat& picture, QSize size) {
    const QSize target = QSize(picture.cols, picture.rows).scaled(size, Qt::KeepAspectRatio);
    if (target.isEmpty()) {
        return QPixmap();
    }
    cv::Mat small;
    cv::resize(picture, small, cv::Size(target.width(), target.height()), 0, 0, cv::INTER_AREA);
    const QImage view(small.data, small.cols, small.rows, static_cast<int>(small.step),
                      QImage::Format_Grayscale16);
    // A copy: the pixmap may share the image's memory, and `small` goes with this call.
    return QPixmap::fromImage(view.copy());
}

} // namespace

cv::Mat OptimizedImageCache::optimize(const std::shared_ptr<Image>& image) {
    if (!optimizer) {
        return cv::Mat();
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
        return cv::Mat();
    }
    if (result.empty() || result.type() != CV_16UC1 || width <= 0 || height <= 0 || result.cols != width ||
        result.rows != height) {
        return cv::Mat();
    }
    return result;
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
        lastPicture.release();
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
        lastPicture.release(); // before the optimization, so that two full pictures never coexist
        lastPicture = optimize(image);
        lastAddress = image.get();
        lastSettings = settings;
    }
    QPixmap scaled;
    if (!lastPicture.empty()) {
        scaled = fitted(lastPicture, size);
    }
    entry->pictures.emplace(key, scaled);
    // Both views of the image (its tile and the preview) have their pictures now: the full one is
    // not needed again unless a setting changes, which optimizes anew.
    if (entry->pictures.size() >= 2) {
        lastPicture.release();
        lastAddress = nullptr;
    }
    for (auto& other : entries) {
        if (&other != &*entry && other.pictures.size() > 1) {
            const auto smallest = std::min_element(
                other.pictures.begin(), other.pictures.end(), [](const auto& a, const auto& b) {
                    return a.first.first * a.first.second < b.first.first * b.first.second;
                });
            auto keep = other.pictures.extract(smallest);
            other.pictures.clear();
            other.pictures.insert(std::move(keep));
        }
    }
    return scaled;
}

std::size_t OptimizedImageCache::pictureCount() const {
    std::size_t count = 0;
    for (const auto& entry : entries) {
        count += entry.pictures.size();
    }
    return count;
}

void OptimizedImageCache::clear() {
    entries.clear();
    lastAddress = nullptr;
    lastPicture.release();
}
