// The picture the user sees in a tile and the application receives: one stored exposure turned to
// its tile's orientation, enhanced, and adjusted by the image's contrast and brightness.
#pragma once

#include "imaging/image.h"

#include <opencv2/core.hpp>

#include <memory>

// Fills `result` with a new single-channel 16-bit matrix of its own (never shared with the image or
// with an earlier result) and sets `width` and `height` to its column and row counts, which are
// pictureSize(*image). The image is only read; every call starts again from its stored samples.
//
// Throws std::invalid_argument, before touching the outputs, for a null image, a size that is not
// positive or a sample count other than width x height. OpenCV failures (cv::Exception,
// std::bad_alloc) propagate unchanged. Safe for any image of a consistent size, down to 1 x 1.
//
// Threads: call it from any thread; the caller keeps the image's adjustment values from changing
// during the call. The intermediate matrices are kept between calls and reused (a full-size exposure
// needs about 5 MB of them, on pages of their own, sized by the largest picture met); a mutex guards
// them, and a call that finds them busy on another thread waits, so that the process never holds two
// sets.
void perform_image_optimization(std::shared_ptr<Image> image, cv::Mat& result, int& width, int& height);

// Frees the intermediate matrices kept between calls (for example when the source closes). Waits for a
// call that is using them.
void releaseOptimizationBuffers();
