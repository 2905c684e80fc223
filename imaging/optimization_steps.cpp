#include "imaging/optimization_steps.h"

#include "imaging/page_mat_allocator.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

// The double as a float; values beyond the float range become infinite instead of undefined.
float toFloat(double value) {
    constexpr double largest = std::numeric_limits<float>::max();
    if (value > largest || value < -largest) {
        return value > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(value);
}

} // namespace

optimization::Buffers::Buffers() {
    for (cv::Mat* matrix : {&turned, &mask, &masked, &mask8, &normalized, &unit, &work}) {
        matrix->allocator = pageMatAllocator();
    }
    for (cv::Mat* matrix : {&strip.unit, &strip.across, &strip.sharpened, &strip.smoothed}) {
        matrix->allocator = pageMatAllocator();
    }
}

void maskSaturated(const cv::Mat& source, cv::Mat& masked, cv::Mat& mask) {
    CV_Assert(source.type() == CV_16UC1);
    mask.create(source.size(), CV_16UC1);
    for (int row = 0; row < source.rows; ++row) {
        const auto* in = source.ptr<std::uint16_t>(row);
        auto* out = mask.ptr<std::uint16_t>(row);
        int column = 0;
#if CV_SIMD
        // A lane comparison yields all ones (65535) where true, 0 where false: the mask itself.
        const cv::v_uint16 fullScale = cv::vx_setall_u16(optimization::kFullScale);
        for (; column + cv::v_uint16::nlanes <= source.cols; column += cv::v_uint16::nlanes) {
            cv::v_store(out + column, cv::vx_load(in + column) != fullScale);
        }
#endif
        for (; column < source.cols; ++column) {
            out[column] = in[column] < optimization::kFullScale ? 0xFFFF : 0;
        }
    }
    cv::bitwise_and(source, mask, masked);
}

void enhanceImage(const cv::Mat& masked, cv::Mat& result, double gamma, const cv::Mat& mask, double sigma,
                  double amount) {
    optimization::Buffers buffers;
    enhanceImage(masked, result, gamma, mask, sigma, amount, buffers);
}

void enhanceImage(const cv::Mat& masked, cv::Mat& result, double gamma, const cv::Mat& mask, double sigma,
                  double amount, optimization::Buffers& buffers) {
    using namespace optimization;
    CV_Assert(masked.type() == CV_16UC1 && mask.type() == CV_16UC1 && masked.size() == mask.size());
    // Each step writes into a matrix that no later step still reads, so that the kept buffers do for
    // all intermediates of one run.
    cv::Mat& mask8 = buffers.mask8;
    cv::Mat& normalized = buffers.normalized;
    cv::Mat& unit = buffers.unit;
    cv::Mat& work = buffers.work;

    cv::convertScaleAbs(mask, mask8, 1.0 / 257, 0);

    // With a mask, cv::normalize leaves the excluded elements of an existing destination untouched;
    // they must read 0, as in a new matrix.
    normalized.create(masked.size(), CV_16UC1);
    normalized.setTo(0);
    cv::normalize(masked, normalized, 0, 65535, cv::NORM_MINMAX, -1, mask8);

    normalized.convertTo(unit, CV_32F, 1.0 / 65535);
    cv::GaussianBlur(unit, work, cv::Size(0, 0), sigma, 0, cv::BORDER_REFLECT_101);
    cv::addWeighted(unit, 1.0, work, -1.0, 0, work);   // detail layer
    cv::addWeighted(unit, 1.0, work, amount, 0, work); // unsharp masking
    clampImage(work, 0.0, 1.0);

    cv::bilateralFilter(work, unit, kBilateralDiameter, kBilateralSigmaColour, kBilateralSigmaSpace,
                        cv::BORDER_REFLECT_101);
    unit.convertTo(normalized, CV_16U, 65535);
    normalized.convertTo(work, CV_32F, 1.0);

    work = (work - kWindowLow) / kWindowWidth;
    clampImage(work, 0.0, 65535.0);
    cv::pow(work, 1.0 / gamma, work);
    work = work * 65535;
    clampImage(work, 0.0, 65535.0);

    // A new matrix, so that the caller's result never shares memory with the buffers.
    result.release();
    work.convertTo(result, CV_16U, 1.0);
}

void clampImage(cv::Mat& matrix, double low, double high) {
    CV_Assert(matrix.depth() == CV_32F);
    // Compared as floats against the nearest float on the inner side of each bound, which decides
    // exactly as a comparison with the double bound would; NaN fails both comparisons and stays.
    const float highValue = toFloat(high);
    const float lowValue = toFloat(low);
    float highLimit = highValue;
    if (highLimit > high) {
        highLimit = std::nextafter(highLimit, -std::numeric_limits<float>::infinity());
    }
    float lowLimit = lowValue;
    if (lowLimit < low) {
        lowLimit = std::nextafter(lowLimit, std::numeric_limits<float>::infinity());
    }

    const int count = matrix.cols * matrix.channels();
    for (int row = 0; row < matrix.rows; ++row) {
        auto* values = matrix.ptr<float>(row);
        int i = 0;
#if CV_SIMD
        const cv::v_float32 vHighLimit = cv::vx_setall_f32(highLimit),
                            vLowLimit = cv::vx_setall_f32(lowLimit);
        const cv::v_float32 vHighValue = cv::vx_setall_f32(highValue),
                            vLowValue = cv::vx_setall_f32(lowValue);
        for (; i + cv::v_float32::nlanes <= count; i += cv::v_float32::nlanes) {
            const cv::v_float32 v = cv::vx_load(values + i);
            cv::v_store(values + i,
                        cv::v_select(v > vHighLimit, vHighValue, cv::v_select(v < vLowLimit, vLowValue, v)));
        }
#endif
        for (; i < count; ++i) {
            const float v = values[i];
            values[i] = v > highLimit ? highValue : (v < lowLimit ? lowValue : v);
        }
    }
}
