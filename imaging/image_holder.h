// The images acquired so far, in tile order, and the tiles of the current template. The same queue
// is the transfer queue: its front image is the next one handed to the application.
#pragma once

#include "imaging/graphic_layout.h"
#include "imaging/image.h"
#include "imaging/index_handler.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

// Exposures that find no tile are held, never dropped: one that arrives while every tile holds an
// image and no retake waits, and every one that arrives while Save hands the images over (the
// images being transferred never change). Held exposures wait, oldest first, for a free tile
// (placeHeld) or for a Re-take (retakeWithHeld); they get their number when they are placed.
//
// Threads: addImage runs on the detector's callback thread while the dialog's timer and the
// transfers read the images on the application's thread. `mutex_` guards `images_`, `layouts_`,
// `nextNumber_`, `ultraHd_`, `held_` and `handingOver_`; nothing reaches them except through the members
// below, each of which holds the lock for its whole duration. The images themselves follow the rules in
// image.h. Lock order: addImage holds this lock while it moves the IndexHandler's selection; code that runs
// under this lock (a withImages callback) must not call back into this ImageHolder. addImage writes
// its log lines after both locks are released, so that the dialog's clock never waits on the disk.
class ImageHolder {
public:
    using Images = std::deque<std::shared_ptr<Image>>;

    // Stores one exposure. With `index` naming a tile that holds an image, that image is replaced
    // (keeping its number) and the selection moves to the first empty tile; otherwise the image
    // fills the next tile when the template has one left and the selection follows it; otherwise,
    // and whenever the images are being handed over, the exposure is held (and logged). Tiles are
    // counted after a composite capture in front. Never throws: a frame without pixels is logged
    // and dropped.
    void addImage(const int& width, const int& height, const int& depth, const unsigned short* pixels,
                  std::optional<int> index, std::shared_ptr<IndexHandler> indexHandler);
    // Releases every image; the numbering, the tiles and the Ultra HD choice stay.
    void resetImages();
    // Puts `image` in front of all others (the composite capture of a multi-tile save).
    void pushFront(std::shared_ptr<Image> image);

    // Save: in one step, replaces a capture left in front by `composite` (when given) and starts the
    // hand-over, during which every exposure is held.
    void beginHandover(std::shared_ptr<Image> composite);
    // The dialog is shown again: a capture left in front goes and exposures reach the tiles again.
    void endHandover();
    bool handingOver() const;
    // Exposures held and not yet placed.
    std::size_t heldCount() const;
    // Outside a hand-over, fills free tiles of the template with held exposures, oldest first (the
    // selection follows each); returns how many were placed.
    std::size_t placeHeld(IndexHandler& indexHandler);
    // A Re-take of `tile` served by the oldest held exposure instead of a new one: it replaces the
    // tile's image and keeps its number, and the selection moves as after a retake. False when
    // nothing is held, the images are being handed over or the tile holds no image.
    bool retakeWithHeld(int tile, IndexHandler& indexHandler);
    // Releases the held exposures (the source closes); returns how many there were.
    std::size_t discardHeld();

    // Runs f(images) under the lock and returns its result by value. Use it to read or change
    // several positions consistently; keep f short.
    template <typename F> auto withImages(F&& f) {
        std::lock_guard lock(mutex_);
        return std::forward<F>(f)(images_);
    }
    template <typename F> auto withImages(F&& f) const {
        std::lock_guard lock(mutex_);
        return std::forward<F>(f)(static_cast<const Images&>(images_));
    }
    // A copy of the queue (the images are shared, not copied).
    Images snapshot() const;
    std::size_t imageCount() const;
    // The image at `position`, or null when there is none.
    std::shared_ptr<Image> imageAt(std::size_t position) const;
    // Removes and returns the front image (the one whose transfer has ended), or null.
    std::shared_ptr<Image> popFront();
    // Puts `image` in the place of the one at `position`; false when there is none there.
    bool replaceImage(std::size_t position, std::shared_ptr<Image> image);

    std::vector<GraphicLayout> layouts() const;
    void setLayouts(std::vector<GraphicLayout> tiles);
    // The number the next new image gets; starts at 1.
    int nextNumber() const;
    void setNextNumber(int number);
    // The Ultra HD choice given to new images; starts true.
    bool ultraHd() const;
    void setUltraHd(bool choice);

private:
    mutable std::mutex mutex_;
    Images images_;
    std::vector<GraphicLayout> layouts_;
    int nextNumber_ = 1;
    bool ultraHd_ = true;
    std::deque<std::shared_ptr<Image>> held_;
    bool handingOver_ = false;

    // Position of tile 0 in images_ (after the composite captures in front).
    std::size_t firstTileLocked() const;
    // Gives a held image the place of tile `tile`: its number and orientation.
    void fitToTileLocked(Image& image, std::size_t tile, int number) const;
    void addImageLocked(const int& width, const int& height, const int& depth, const unsigned short* pixels,
                        std::optional<int> index, IndexHandler& indexHandler, LogRecord& log);
};
