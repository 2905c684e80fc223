#include "imaging/perform_image_optimization.h"

#include "imaging/enhance_exposure.h"
#include "imaging/optimization_steps.h"
#include "imaging/page_mat_allocator.h"
#include "imaging/picture_size.h"
#include "support/log.h"

#include <cmath>
#include <cstdint>
#include <mutex>
#include <stdexcept>

namespace {

// Guards keptBuffers: a call holds it for its whole run.
std::mutex keptBuffersMutex;
optimization::Buffers keptBuffers;

void checkImage(const Image* image) {
    if (image == nullptr) {
        throw std::invalid_argument("no image to optimize");
    }
    if (image->width <= 0 || image->height <= 0 ||
        static_cast<std::uint64_t>(image->width) * static_cast<std::uint64_t>(image->height) !=
            image->pixels.size()) {
        throw std::invalid_argument("image samples do not match its size");
    }
}

void optimize(const Image& image, cv::Mat& result, int& width, int& height, optimization::Buffers& buffers) {
    // The adjustment values are read once, so that one run uses one consistent set.
    const bool upright = image.upright;
    const bool enhance = image.enhance;
    const bool ultraHd = image.ultraHd;
    const double gamma = image.gamma;
    const double contrast = image.contrast;
    const std::int32_t brightness = image.brightness;

    // Read only: the samples are never written through this header.
    const cv::Mat stored(image.height, image.width, CV_16UC1,
                         const_cast<std::uint16_t*>(image.pixels.data()));
    const PictureSize size = pictureSize(image);
    width = size.width;
    height = size.height;
    // One record for the run's lines (also when the chain throws), so the file is opened once.
    LogRecord log;
    log.line("perform_image_optimization 1");
    log.line("perform_image_optimization 3");

    // In 64 bits, so that no brightness overflows; the same value as the 32-bit product otherwise.
    const auto offset = static_cast<double>(static_cast<std::int64_t>(brightness) * 255);
    if (enhance) {
        log.line("perform_image_optimization 4");
        const double sigma = ultraHd ? optimization::kUltraHdSigma : optimization::kHdSigma;
        const double amount = ultraHd ? optimization::kUltraHdAmount : optimization::kHdAmount;
        // The masking, the chain and the final step together, in as few passes as they allow.
        enhanceExposure(stored, !upright, result, gamma, sigma, amount, contrast, offset, buffers);
        log.line("perform_image_optimization 5");
        return;
    }
    if (upright) {
        stored.copyTo(result);
    } else {
        cv::rotate(stored, result, cv::ROTATE_90_CLOCKWISE);
    }
    log.line("perform_image_optimization 5");
    adjustContrastAndBrightness(result, contrast, offset);
}

} // namespace

void perform_image_optimization(std::shared_ptr<Image> image, cv::Mat& result, int& width, int& height) {
    checkImage(image.get());
    // A new matrix on pages of its own, whatever the caller's matrix held before.
    result.release();
    result.allocator = pageMatAllocator();
    // One working set in the process: a call from another thread waits for it rather than making a
    // second one (the two would share the same processors anyway).
    std::lock_guard lock(keptBuffersMutex);
    optimize(*image, result, width, height, keptBuffers);
}

void releaseOptimizationBuffers() {
    std::lock_guard lock(keptBuffersMutex);
    keptBuffers = optimization::Buffers{};
}
