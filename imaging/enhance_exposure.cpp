#include "imaging/enhance_exposure.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <mutex>

namespace {

// Pictures below this many samples run the step-by-step chain: the tables would cost more than they
// save.
constexpr int kSmallPicture = 1 << 14;
// OpenCV works through a matrix in vectors and blocks whose sizes divide this; a sample's place in
// its last block decides whether it goes through the vector or the scalar code, and the two may round
// differently. The last samples are therefore recomputed by the chain's own calls on a run of the
// same length modulo this size.
constexpr int kBlock = 1024;
// Samples per task of the passes that run on OpenCV's threads (a multiple of kBlock).
constexpr int kChunk = 64 * kBlock;

const cv::Mat& allSamples() {
    static const cv::Mat row = [] {
        cv::Mat values(1, 65536, CV_16UC1);
        for (int v = 0; v < 65536; ++v) {
            values.at<std::uint16_t>(0, v) = static_cast<std::uint16_t>(v);
        }
        return values;
    }();
    return row;
}

// The samples at the end of a picture that are recomputed step by step.
int tailLength(int total) {
    return total < 2 * kBlock ? total : kBlock + total % kBlock;
}

// Runs f(begin, end) over [0, total) in chunks on OpenCV's threads.
template <typename F> void inChunks(int total, F&& f) {
    cv::parallel_for_(cv::Range(0, (total + kChunk - 1) / kChunk), [&](const cv::Range& chunks) {
        f(chunks.start * kChunk, std::min(total, chunks.end * kChunk));
    });
}

// Smallest and largest sample below full scale; none: both 0 (as cv::minMaxIdx reports an empty mask).
void usableRange(const cv::Mat& samples, double& smallest, double& largest) {
    constexpr std::uint16_t full = optimization::kFullScale;
    std::mutex mutex; // guards low and high while the chunks merge their findings
    std::uint16_t low = full, high = 0;
    const auto* in = samples.ptr<std::uint16_t>();
    inChunks(static_cast<int>(samples.total()), [&](int begin, int end) {
        std::uint16_t chunkLow = full, chunkHigh = 0;
        int i = begin;
#if CV_SIMD
        // A full-scale sample is its own neutral value for the minimum and is zeroed for the maximum.
        const cv::v_uint16 vFull = cv::vx_setall_u16(full);
        cv::v_uint16 vLow = vFull, vHigh = cv::vx_setzero_u16();
        for (; i + cv::v_uint16::nlanes <= end; i += cv::v_uint16::nlanes) {
            const cv::v_uint16 v = cv::vx_load(in + i);
            vLow = cv::v_min(vLow, v);
            vHigh = cv::v_max(vHigh, v & (v != vFull));
        }
        chunkLow = cv::v_reduce_min(vLow);
        chunkHigh = cv::v_reduce_max(vHigh);
#endif
        for (; i < end; ++i) {
            const std::uint16_t v = in[i];
            chunkLow = std::min(chunkLow, v);
            chunkHigh = std::max<std::uint16_t>(chunkHigh, v == full ? 0 : v);
        }
        std::lock_guard lock(mutex);
        low = std::min(low, chunkLow);
        high = std::max(high, chunkHigh);
    });
    if (low == full) {
        low = high = 0;
    }
    smallest = low;
    largest = high;
}

// Sample -> the stretched sample as a float in [0, 1]: cv::normalize's min-max scale (with the
// saturated samples left out) and the conversion to floats.
void stretchTable(double smallest, double largest, cv::Mat& table) {
    const double scale = 65535.0 * (largest - smallest > DBL_EPSILON ? 1.0 / (largest - smallest) : 0.0);
    const double shift = 0.0 - smallest * scale;
    cv::Mat stretched;
    allSamples().convertTo(stretched, CV_16U, scale, shift);
    stretched.at<std::uint16_t>(0, optimization::kFullScale) = 0;
    stretched.convertTo(table, CV_32F, 1.0 / 65535);
}

// The steps after the smoothing, from the smoothed picture in 16 bits: window, gamma, back to 16 bits,
// contrast and brightness. In place where the chain works in place.
void windowAndAdjust(const cv::Mat& smoothed16, cv::Mat& out, double gamma, double contrast, double offset) {
    using namespace optimization;
    cv::Mat work;
    smoothed16.convertTo(work, CV_32F, 1.0);
    work = (work - kWindowLow) / kWindowWidth;
    clampImage(work, 0.0, 65535.0);
    cv::pow(work, 1.0 / gamma, work);
    work = work * 65535;
    clampImage(work, 0.0, 65535.0);
    out.release();
    work.convertTo(out, CV_16U, 1.0);
    adjustContrastAndBrightness(out, contrast, offset);
}

// sharpened = clamp(unit + (unit - blurred) * amount, 0, 1), rounded as the chain's two cv::addWeighted
// calls round: they sum in doubles and round each sum to a float. The difference of two floats is the
// same rounded either way; the sharpening sum is not, and is made in doubles.
void sharpen(const float* unit, const float* blurred, float* sharpened, int begin, int end, double amount) {
    int i = begin;
#if CV_SIMD_64F
    const cv::v_float64 vAmount = cv::vx_setall_f64(amount);
    const cv::v_float32 zero = cv::vx_setzero_f32(), one = cv::vx_setall_f32(1.0f);
    for (; i + cv::v_float32::nlanes <= end; i += cv::v_float32::nlanes) {
        const cv::v_float32 f = cv::vx_load(unit + i);
        const cv::v_float32 detail = f - cv::vx_load(blurred + i);
        const cv::v_float32 k = cv::v_cvt_f32(cv::v_cvt_f64(f) + cv::v_cvt_f64(detail) * vAmount,
                                              cv::v_cvt_f64_high(f) + cv::v_cvt_f64_high(detail) * vAmount);
        // k is never NaN here, so min and max clamp as clampImage does.
        cv::v_store(sharpened + i, cv::v_min(cv::v_max(k, zero), one));
    }
#endif
    for (; i < end; ++i) {
        const double f = unit[i];
        const auto detail = static_cast<float>(f - blurred[i]);
        const auto k = static_cast<float>(f + detail * amount);
        sharpened[i] = k > 1.0f ? 1.0f : (k < 0.0f ? 0.0f : k);
    }
}

// Chunks start on a multiple of kChunk samples, so that their vectors are aligned as the matrices'
// data is; the results go straight to memory (the next pass reads them whole, long after).

// out = table[sample].
void lookUpStretch(const std::uint16_t* in, const float* table, float* out, int begin, int end) {
    int i = begin;
#if CV_SIMD
    for (; i + cv::v_float32::nlanes <= end; i += cv::v_float32::nlanes) {
        cv::v_store_aligned_nocache(out + i,
                                    cv::v_lut(table, cv::v_reinterpret_as_s32(cv::vx_load_expand(in + i))));
    }
#endif
    for (; i < end; ++i) {
        out[i] = table[in[i]];
    }
}

// unit = table[sample] for the stored samples turned a quarter turn clockwise: unit(j, k) is the
// sample at stored row (rows - 1 - k), column j. In square blocks, so that both sides are read and
// written a cache line at a time.
void lookUpStretchTurned(const cv::Mat& stored, const float* table, cv::Mat& unit) {
    constexpr int kSide = 64;
    const int storedRows = stored.rows;
    cv::parallel_for_(cv::Range(0, (unit.rows + kSide - 1) / kSide), [&](const cv::Range& bands) {
        for (int j0 = bands.start * kSide; j0 < std::min(unit.rows, bands.end * kSide); j0 += kSide) {
            const int j1 = std::min(unit.rows, j0 + kSide);
            for (int k0 = 0; k0 < unit.cols; k0 += kSide) {
                const int k1 = std::min(unit.cols, k0 + kSide);
                for (int j = j0; j < j1; ++j) {
                    auto* out = unit.ptr<float>(j);
                    for (int k = k0; k < k1; ++k) {
                        out[k] = table[stored.at<std::uint16_t>(storedRows - 1 - k, j)];
                    }
                }
            }
        }
    });
}

// out = table[smoothed * 65535, rounded and saturated to 16 bits].
void lookUpSmoothed(const float* smoothed, const std::uint16_t* table, std::uint16_t* out, int begin,
                    int end) {
    int i = begin;
#if CV_SIMD
    const cv::v_float32 scale = cv::vx_setall_f32(65535.0f);
    alignas(64) int index[cv::v_uint16::nlanes];
    for (; i + cv::v_uint16::nlanes <= end; i += cv::v_uint16::nlanes) {
        const cv::v_int32 low = cv::v_round(cv::vx_load(smoothed + i) * scale);
        const cv::v_int32 high = cv::v_round(cv::vx_load(smoothed + i + cv::v_float32::nlanes) * scale);
        cv::v_uint32 lowIndex, highIndex;
        cv::v_expand(cv::v_pack_u(low, high), lowIndex, highIndex);
        cv::v_store_aligned(index, cv::v_reinterpret_as_s32(lowIndex));
        cv::v_store_aligned(index + cv::v_int32::nlanes, cv::v_reinterpret_as_s32(highIndex));
        cv::v_store_aligned_nocache(out + i, cv::v_lut(table, index));
    }
#endif
    for (; i < end; ++i) {
        out[i] = table[cv::saturate_cast<std::uint16_t>(smoothed[i] * 65535.0f)];
    }
}

} // namespace

void adjustContrastAndBrightness(cv::Mat& picture, double contrast, double offset) {
    // cv::Mat::convertTo rounds through a 32-bit integer and turns values beyond its range into 0;
    // only adjustments that reach that far (or are not numbers) take the slower path that saturates
    // them properly.
    constexpr double safe = 1e9;
    const double atBlack = offset;
    const double atWhite = 65535.0 * contrast + offset;
    if (std::abs(atBlack) < safe && std::abs(atWhite) < safe) {
        picture.convertTo(picture, CV_16U, contrast, offset);
        return;
    }
    cv::Mat wide;
    picture.convertTo(wide, CV_64F, contrast, offset);
    wide = cv::max(wide, 0.0);
    wide = cv::min(wide, 65535.0);
    wide.convertTo(picture, CV_16U);
}

void enhanceExposure(const cv::Mat& stored, bool turn, cv::Mat& result, double gamma, double sigma,
                     double amount, double contrast, double offset, optimization::Buffers& buffers) {
    using namespace optimization;
    CV_Assert(stored.type() == CV_16UC1);
    const int total = static_cast<int>(stored.total());
    if (total < kSmallPicture) {
        cv::Mat picture = stored;
        if (turn) {
            cv::rotate(stored, buffers.turned, cv::ROTATE_90_CLOCKWISE);
            picture = buffers.turned;
        }
        maskSaturated(picture, buffers.masked, buffers.mask);
        enhanceImage(buffers.masked, result, gamma, buffers.mask, sigma, amount, buffers);
        adjustContrastAndBrightness(result, contrast, offset);
        return;
    }
    const cv::Mat samples = stored.isContinuous() ? stored : stored.clone();
    const cv::Size size = turn ? cv::Size(samples.rows, samples.cols) : samples.size();

    // Before the blur: the stretch as floats, by table; a landscape picture is turned on the way.
    double smallest = 0, largest = 0;
    usableRange(samples, smallest, largest);
    cv::Mat stretch;
    stretchTable(smallest, largest, stretch);
    cv::Mat& unit = buffers.unit;
    unit.create(size, CV_32F);
    {
        const auto* in = samples.ptr<std::uint16_t>();
        const auto* table = stretch.ptr<float>();
        if (turn) {
            lookUpStretchTurned(samples, table, unit);
        } else {
            auto* out = unit.ptr<float>();
            inChunks(total, [&](int begin, int end) { lookUpStretch(in, table, out, begin, end); });
        }
    }

    // Unsharp masking between the filters, in one pass; the last samples as the chain computes them.
    cv::Mat& blurred = buffers.work;
    cv::GaussianBlur(unit, blurred, cv::Size(0, 0), sigma, 0, cv::BORDER_REFLECT_101);
    const int tail = tailLength(total);
    const int tailStart = total - tail;
    cv::Mat sharpenedTail = blurred.reshape(1, 1).colRange(tailStart, total).clone();
    {
        const cv::Mat unitTail = unit.reshape(1, 1).colRange(tailStart, total).clone();
        cv::addWeighted(unitTail, 1.0, sharpenedTail, -1.0, 0, sharpenedTail);
        cv::addWeighted(unitTail, 1.0, sharpenedTail, amount, 0, sharpenedTail);
        clampImage(sharpenedTail, 0.0, 1.0);
    }
    cv::Mat& sharpened = blurred; // in place: each sample is read just before it is replaced
    inChunks(total, [&](int begin, int end) {
        sharpen(unit.ptr<float>(), blurred.ptr<float>(), sharpened.ptr<float>(), begin, end, amount);
    });
    sharpenedTail.copyTo(sharpened.reshape(1, 1).colRange(tailStart, total));

    // After the smoothing: back to 16 bits, then the window, gamma, contrast and brightness by table.
    cv::Mat& smoothed = unit; // the stretch is no longer needed
    cv::bilateralFilter(sharpened, smoothed, kBilateralDiameter, kBilateralSigmaColour, kBilateralSigmaSpace,
                        cv::BORDER_REFLECT_101);
    const cv::Vec3d key(gamma, contrast, offset);
    if (buffers.finishTable.empty() || buffers.finishKey != key) {
        windowAndAdjust(allSamples(), buffers.finishTable, gamma, contrast, offset);
        buffers.finishKey = key;
    }
    const cv::Mat& finish = buffers.finishTable;
    result.release();
    result.create(size, CV_16UC1);
    {
        const auto* in = smoothed.ptr<float>();
        const auto* table = finish.ptr<std::uint16_t>();
        auto* out = result.ptr<std::uint16_t>();
        inChunks(total, [&](int begin, int end) { lookUpSmoothed(in, table, out, begin, end); });
    }
    {
        cv::Mat smoothed16;
        smoothed.reshape(1, 1).colRange(tailStart, total).convertTo(smoothed16, CV_16U, 65535);
        cv::Mat tailOut;
        windowAndAdjust(smoothed16, tailOut, gamma, contrast, offset);
        tailOut.copyTo(result.reshape(1, 1).colRange(tailStart, total));
    }
}
