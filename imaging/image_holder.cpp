#include "imaging/image_holder.h"

#include "support/log.h"

#include <exception>
#include <string>

void ImageHolder::addImage(const int& width, const int& height, const int& depth,
                           const unsigned short* pixels, std::optional<int> index,
                           std::shared_ptr<IndexHandler> indexHandler) {
    if (!indexHandler) {
        return;
    }
    // This runs on the detector's callback thread, where an escaping exception would end the
    // process; an exposure that cannot be stored is logged and dropped instead.
    try {
        LogRecord log; // written when this block ends, after the lock
        std::lock_guard lock(mutex_);
        addImageLocked(width, height, depth, pixels, index, *indexHandler, log);
    } catch (const std::exception& e) {
        writeString(std::string("exception: ") + e.what());
    } catch (...) {
        writeString("exception: unknown");
    }
}

void ImageHolder::addImageLocked(const int& width, const int& height, const int& depth,
                                 const unsigned short* pixels, std::optional<int> index,
                                 IndexHandler& indexHandler, LogRecord& log) {
    const std::size_t first = firstTileLocked();
    const auto count = images_.size() - first;

    if (handingOver_) {
        held_.push_back(std::make_shared<Image>(width, height, depth, pixels, 0, false, ultraHd_));
        log << "image kept for the next showing: images are being handed over, held: " << held_.size()
            << '\n';
        return;
    }

    if (index && *index >= 0 && static_cast<std::size_t>(*index) < count) {
        const auto tile = static_cast<std::size_t>(*index);
        // A tile outside the template's list cannot arise while both come from one template; such
        // an image is kept upright.
        const bool landscape = tile < layouts_.size() && !layouts_[tile].vertical;
        const int number = images_[first + tile]->number;
        images_[first + tile] =
            std::make_shared<Image>(width, height, depth, pixels, number, landscape, ultraHd_);

        const int original = indexHandler.selected;
        log << "img_size " << count << " orgSelectIndex " << original << '\n';
        indexHandler.set_selected(static_cast<unsigned char>(count), log);
        const auto now = indexHandler.current();
        log << "selectedIndex " << static_cast<int>(now.selected) << " prevIndex "
            << static_cast<int>(now.previous) << " -- " << (now.selected == -1 ? "unselected" : "selected")
            << '\n';
        return;
    }

    if (static_cast<long long>(count) < static_cast<long long>(indexHandler.upperLimit)) {
        log.line("image received");
        const bool landscape = count < layouts_.size() && !layouts_[count].vertical;
        images_.push_back(
            std::make_shared<Image>(width, height, depth, pixels, nextNumber_, landscape, ultraHd_));
        ++nextNumber_;
        indexHandler.set_selected(static_cast<unsigned char>(indexHandler.selected + 1), log);
        return;
    }

    // Every tile holds an image and no retake waits: the exposure is kept for the next Re-take.
    held_.push_back(std::make_shared<Image>(width, height, depth, pixels, 0, false, ultraHd_));
    log << "image not placed: every tile holds an image, held: " << held_.size() << '\n';
}

std::size_t ImageHolder::firstTileLocked() const {
    std::size_t first = 0;
    while (first < images_.size() && images_[first] && images_[first]->composite) {
        ++first;
    }
    return first;
}

void ImageHolder::fitToTileLocked(Image& image, std::size_t tile, int number) const {
    image.number = number;
    image.upright = !(tile < layouts_.size() && !layouts_[tile].vertical);
    image.ultraHd = ultraHd_;
    image.rendered = false;
}

void ImageHolder::beginHandover(std::shared_ptr<Image> composite) {
    std::lock_guard lock(mutex_);
    if (composite) {
        images_.erase(images_.begin(), images_.begin() + static_cast<std::ptrdiff_t>(firstTileLocked()));
        images_.push_front(std::move(composite));
    }
    handingOver_ = true;
}

void ImageHolder::endHandover() {
    std::lock_guard lock(mutex_);
    images_.erase(images_.begin(), images_.begin() + static_cast<std::ptrdiff_t>(firstTileLocked()));
    handingOver_ = false;
}

bool ImageHolder::handingOver() const {
    std::lock_guard lock(mutex_);
    return handingOver_;
}

std::size_t ImageHolder::heldCount() const {
    std::lock_guard lock(mutex_);
    return held_.size();
}

std::size_t ImageHolder::placeHeld(IndexHandler& indexHandler) {
    LogRecord log;
    std::lock_guard lock(mutex_);
    std::size_t placed = 0;
    while (!handingOver_ && !held_.empty()) {
        const std::size_t count = images_.size() - firstTileLocked();
        if (static_cast<long long>(count) >= static_cast<long long>(indexHandler.upperLimit)) {
            break;
        }
        auto image = std::move(held_.front());
        held_.pop_front();
        fitToTileLocked(*image, count, nextNumber_++);
        images_.push_back(std::move(image));
        log << "held image placed in tile " << count << '\n';
        indexHandler.set_selected(static_cast<unsigned char>(count), log);
        ++placed;
    }
    return placed;
}

bool ImageHolder::retakeWithHeld(int tile, IndexHandler& indexHandler) {
    LogRecord log;
    std::lock_guard lock(mutex_);
    const std::size_t first = firstTileLocked();
    const std::size_t count = images_.size() - first;
    if (handingOver_ || held_.empty() || tile < 0 || static_cast<std::size_t>(tile) >= count) {
        return false;
    }
    const auto position = first + static_cast<std::size_t>(tile);
    auto image = std::move(held_.front());
    held_.pop_front();
    fitToTileLocked(*image, static_cast<std::size_t>(tile), images_[position]->number);
    images_[position] = std::move(image);
    log << "held image retakes tile " << tile << '\n';
    indexHandler.set_selected(static_cast<unsigned char>(count), log);
    return true;
}

std::size_t ImageHolder::discardHeld() {
    std::deque<std::shared_ptr<Image>> released;
    std::lock_guard lock(mutex_);
    released.swap(held_);
    handingOver_ = false;
    return released.size();
}

void ImageHolder::resetImages() {
    Images released;
    {
        std::lock_guard lock(mutex_);
        released.swap(images_);
    }
}

void ImageHolder::pushFront(std::shared_ptr<Image> image) {
    std::lock_guard lock(mutex_);
    images_.push_front(std::move(image));
}

ImageHolder::Images ImageHolder::snapshot() const {
    std::lock_guard lock(mutex_);
    return images_;
}

std::size_t ImageHolder::imageCount() const {
    std::lock_guard lock(mutex_);
    return images_.size();
}

std::shared_ptr<Image> ImageHolder::imageAt(std::size_t position) const {
    std::lock_guard lock(mutex_);
    return position < images_.size() ? images_[position] : nullptr;
}

std::shared_ptr<Image> ImageHolder::popFront() {
    std::lock_guard lock(mutex_);
    if (images_.empty()) {
        return nullptr;
    }
    auto front = std::move(images_.front());
    images_.pop_front();
    return front;
}

bool ImageHolder::replaceImage(std::size_t position, std::shared_ptr<Image> image) {
    std::lock_guard lock(mutex_);
    if (position >= images_.size()) {
        return false;
    }
    images_[position] = std::move(image);
    return true;
}

std::vector<GraphicLayout> ImageHolder::layouts() const {
    std::lock_guard lock(mutex_);
    return layouts_;
}

void ImageHolder::setLayouts(std::vector<GraphicLayout> tiles) {
    std::lock_guard lock(mutex_);
    layouts_ = std::move(tiles);
}

int ImageHolder::nextNumber() const {
    std::lock_guard lock(mutex_);
    return nextNumber_;
}

void ImageHolder::setNextNumber(int number) {
    std::lock_guard lock(mutex_);
    nextNumber_ = number;
}

bool ImageHolder::ultraHd() const {
    std::lock_guard lock(mutex_);
    return ultraHd_;
}

void ImageHolder::setUltraHd(bool choice) {
    std::lock_guard lock(mutex_);
    ultraHd_ = choice;
}
