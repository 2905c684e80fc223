// The enhancement chain and the final contrast and brightness in as few passes over the picture as
// the two filters allow: every step before the blur and every step after the smoothing is a function
// of one 16-bit sample, so each becomes a lookup table built by the chain's own OpenCV calls; the
// detail and sharpening steps between the filters are one pass. The result is the step-by-step
// chain's (maskSaturated, enhanceImage, then adjustContrastAndBrightness) to the last bit.
#pragma once

#include "imaging/optimization_steps.h"

#include <opencv2/core.hpp>

// v * contrast + offset on a 16-bit matrix, in place, rounded and saturated to 16 bits.
void adjustContrastAndBrightness(cv::Mat& picture, double contrast, double offset);

// The chain on the stored 16-bit samples (not masked), turned a quarter turn clockwise first when
// `turn` is set: the enhancement with sigma, amount and gamma, then adjustContrastAndBrightness.
// `result` gets a new 16-bit matrix of its own; the intermediates are kept in `buffers`. A large
// picture is turned on its way into the first table lookup, without a turned copy, and goes through
// the chain in strips of rows, so that its intermediates are a few strips' worth
// (about 5 MB for a 1300 x 1700 exposure) instead of several whole pictures.
void enhanceExposure(const cv::Mat& stored, bool turn, cv::Mat& result, double gamma, double sigma,
                     double amount, double contrast, double offset, optimization::Buffers& buffers);
