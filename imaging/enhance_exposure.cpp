#include "imaging/enhance_exposure.h"

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
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
// Rows of a strip of a large picture (at least; the strips share the rows evenly).
constexpr int kStripRows = 128;

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
// same rounded either way; the sharpening sum is not, and is made in doubles. Widens [low, high] by
// the sharpened values.
void sharpen(const float* unit, const float* blurred, float* sharpened, int begin, int end, double amount,
             float& low, float& high) {
    int i = begin;
    float least = low, most = high;
#if CV_SIMD_64F
    const cv::v_float64 vAmount = cv::vx_setall_f64(amount);
    const cv::v_float32 zero = cv::vx_setzero_f32(), one = cv::vx_setall_f32(1.0f);
    cv::v_float32 vLeast = cv::vx_setall_f32(least), vMost = cv::vx_setall_f32(most);
    for (; i + cv::v_float32::nlanes <= end; i += cv::v_float32::nlanes) {
        const cv::v_float32 f = cv::vx_load(unit + i);
        const cv::v_float32 detail = f - cv::vx_load(blurred + i);
        const cv::v_float32 k = cv::v_cvt_f32(cv::v_cvt_f64(f) + cv::v_cvt_f64(detail) * vAmount,
                                              cv::v_cvt_f64_high(f) + cv::v_cvt_f64_high(detail) * vAmount);
        // k is never NaN here, so min and max clamp as clampImage does.
        const cv::v_float32 clamped = cv::v_min(cv::v_max(k, zero), one);
        cv::v_store(sharpened + i, clamped);
        vLeast = cv::v_min(vLeast, clamped);
        vMost = cv::v_max(vMost, clamped);
    }
    least = cv::v_reduce_min(vLeast);
    most = cv::v_reduce_max(vMost);
#endif
    for (; i < end; ++i) {
        const double f = unit[i];
        const auto detail = static_cast<float>(f - blurred[i]);
        const auto k = static_cast<float>(f + detail * amount);
        sharpened[i] = k > 1.0f ? 1.0f : (k < 0.0f ? 0.0f : k);
        least = std::min(least, sharpened[i]);
        most = std::max(most, sharpened[i]);
    }
    low = least;
    high = most;
}

// The strips start on any row, so the passes below make no assumption on their vectors' alignment.

// out = table[sample].
void lookUpStretch(const std::uint16_t* in, const float* table, float* out, int begin, int end) {
    int i = begin;
#if CV_SIMD
    for (; i + cv::v_float32::nlanes <= end; i += cv::v_float32::nlanes) {
        cv::v_store(out + i, cv::v_lut(table, cv::v_reinterpret_as_s32(cv::vx_load_expand(in + i))));
    }
#endif
    for (; i < end; ++i) {
        out[i] = table[in[i]];
    }
}

// Rows [first, first + unit.rows) of table[sample] for the stored samples turned a quarter turn
// clockwise: turned row j, column k is the sample at stored row (rows - 1 - k), column j. In square
// blocks, so that both sides are read and written a cache line at a time.
void lookUpStretchTurned(const cv::Mat& stored, const float* table, int first, cv::Mat& unit) {
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
                        out[k] = table[stored.at<std::uint16_t>(storedRows - 1 - k, first + j)];
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
        cv::v_store(out + i, cv::v_lut(table, index));
    }
#endif
    for (; i < end; ++i) {
        out[i] = table[cv::saturate_cast<std::uint16_t>(smoothed[i] * 65535.0f)];
    }
}

// Rows of the blur's reach on either side of a row: the kernel size OpenCV derives from sigma for
// float pictures, less its centre, halved.
int blurReach(double sigma) {
    return (cvRound(sigma * 4 * 2 + 1) | 1) / 2;
}
constexpr int kSmoothingReach = optimization::kBilateralDiameter / 2;

// A rows x cols float matrix on `store`, which grows to the largest need and is kept (the filters
// then write into it instead of making matrices of their own).
cv::Mat floatsOn(cv::Mat& store, int rows, int cols) {
    const auto count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    if (store.total() < count) {
        store.release();
        store.create(1, static_cast<int>(count), CV_32F);
    }
    return cv::Mat(rows, cols, CV_32F, store.data);
}

// Everything a run over the strips needs besides the strip bounds.
struct StripRun {
    const cv::Mat& samples; // the stored samples, continuous
    bool turn;
    cv::Size size; // of the picture (turned when `turn`)
    const float* stretch;
    double sigma;
    double amount;
    double gamma;
    double contrast;
    double offset;
    const std::uint16_t* finish;
    int tail; // the last samples, recomputed by the chain's own calls
    cv::Mat& result;
    // The blur as the chain's cv::GaussianBlur makes it: along the rows, then along the columns.
    cv::Mat kernel;
    cv::Mat identity;
    int windowRows; // the most unit rows a strip reads
};

// Picture rows [first, last) of the stretch and of its blur along the rows that a worker holds.
struct Window {
    int first = 0;
    int last = 0;
};

// Picture rows [first, last) of the enhanced result. The smoothing reads the smallest and largest
// sharpened value of the whole picture: a strip of several carries two rows holding `low` and `high`
// next to rows whose results it drops, so that the filter sees the picture's span. Widens
// [seenLow, seenHigh] by the sharpened values of the rows it sharpens (all of them the picture's).
void enhanceStrip(const StripRun& run, optimization::Buffers::Strip& buffers, Window& window, int first,
                  int last, float low, float high, float& seenLow, float& seenHigh) {
    const int rows = run.size.height, cols = run.size.width;
    const int reach = blurReach(run.sigma);
    // The smoothing reads sharpened rows [sharpFirst, sharpLast), the blur unit rows [unitFirst, unitLast).
    const int sharpFirst = std::max(0, first - kSmoothingReach);
    const int sharpLast = std::min(rows, last + kSmoothingReach);
    const int unitFirst = std::max(0, sharpFirst - reach);
    const int unitLast = std::min(rows, sharpLast + reach);

    // The rows held from the strip before that this one reads again move to the top; the others are
    // made anew. Blurring along the rows reads one row at a time, so rows made apart blur the same.
    auto* unitData = floatsOn(buffers.unit, run.windowRows, cols).ptr<float>();
    auto* acrossData = floatsOn(buffers.across, run.windowRows, cols).ptr<float>();
    int kept = 0;
    if (window.first <= unitFirst && unitFirst < window.last) {
        kept = std::min(window.last, unitLast) - unitFirst;
        const auto skip = static_cast<std::size_t>(unitFirst - window.first) * cols;
        const auto bytes = static_cast<std::size_t>(kept) * cols * sizeof(float);
        std::memmove(unitData, unitData + skip, bytes);
        std::memmove(acrossData, acrossData + skip, bytes);
    }
    window = {unitFirst, unitLast};
    // Exactly the window's rows: the filters read rows beyond their own from these matrices.
    cv::Mat unit(unitLast - unitFirst, cols, CV_32F, unitData);
    cv::Mat across(unitLast - unitFirst, cols, CV_32F, acrossData);
    if (unitFirst + kept < unitLast) {
        cv::Mat fresh = unit.rowRange(kept, unit.rows);
        if (run.turn) {
            lookUpStretchTurned(run.samples, run.stretch, unitFirst + kept, fresh);
        } else {
            const auto* in = run.samples.ptr<std::uint16_t>(unitFirst + kept);
            auto* out = fresh.ptr<float>();
            inChunks(static_cast<int>(fresh.total()),
                     [&](int begin, int end) { lookUpStretch(in, run.stretch, out, begin, end); });
        }
        cv::Mat freshAcross = across.rowRange(kept, across.rows);
        cv::sepFilter2D(fresh, freshAcross, CV_32F, run.kernel, run.identity, cv::Point(-1, -1), 0,
                        cv::BORDER_REFLECT_101);
    }

    // Along the columns the blur reads the rows around its own from the window, as it would from the
    // whole picture; at the picture's edges the window's edges are the picture's.
    // The blur goes straight into the rows of the sharpened strip and is sharpened there, in place
    // (each sample is read just before it is replaced); a strip of several has two more rows there
    // for the span.
    const bool whole = first == 0 && last == rows;
    const bool spanOnTop = !whole && last == rows; // the picture's last rows must stay at the bottom
    const int spanRows = whole ? 0 : 2;
    const int sharpRows = sharpLast - sharpFirst;
    cv::Mat sharpened = floatsOn(buffers.sharpened, sharpRows + spanRows, cols);
    const int sharpAt = spanOnTop ? spanRows : 0;
    const cv::Mat blurIn = unit.rowRange(sharpFirst - unitFirst, sharpLast - unitFirst);
    cv::Mat blurred = sharpened.rowRange(sharpAt, sharpAt + sharpRows);
    cv::sepFilter2D(across.rowRange(sharpFirst - unitFirst, sharpLast - unitFirst), blurred, CV_32F,
                    run.identity, run.kernel, cv::Point(-1, -1), 0, cv::BORDER_REFLECT_101);

    const int count = sharpRows * cols;
    cv::Mat sharpenedTail;
    if (last == rows) {
        sharpenedTail = blurred.reshape(1, 1).colRange(count - run.tail, count).clone();
    }
    {
        const auto* unitIn = blurIn.ptr<float>();
        auto* inOut = blurred.ptr<float>();
        // The last samples are made again below; their span is taken from there.
        const int spanned = last == rows ? count - run.tail : count;
        std::mutex mutex; // guards seenLow and seenHigh while the chunks merge their findings
        inChunks(count, [&](int begin, int end) {
            float chunkLow = 1.0f, chunkHigh = 0.0f;
            sharpen(unitIn, inOut, inOut, begin, std::min(end, spanned), run.amount, chunkLow, chunkHigh);
            if (end > spanned) {
                float ignored = 0.0f;
                sharpen(unitIn, inOut, inOut, std::max(begin, spanned), end, run.amount, ignored, ignored);
            }
            std::lock_guard lock(mutex);
            seenLow = std::min(seenLow, chunkLow);
            seenHigh = std::max(seenHigh, chunkHigh);
        });
    }
    const int total = rows * cols;
    if (last == rows) {
        // The last samples as the chain computes them (the strip's last rows are the picture's).
        const cv::Mat unitTail = blurIn.reshape(1, 1).colRange(count - run.tail, count);
        cv::addWeighted(unitTail, 1.0, sharpenedTail, -1.0, 0, sharpenedTail);
        cv::addWeighted(unitTail, 1.0, sharpenedTail, run.amount, 0, sharpenedTail);
        clampImage(sharpenedTail, 0.0, 1.0);
        sharpenedTail.copyTo(blurred.reshape(1, 1).colRange(count - run.tail, count));
        double tailLow = 0, tailHigh = 0;
        cv::minMaxLoc(sharpenedTail, &tailLow, &tailHigh);
        seenLow = std::min(seenLow, static_cast<float>(tailLow));
        seenHigh = std::max(seenHigh, static_cast<float>(tailHigh));
    }
    const int ownAt = sharpAt + (first - sharpFirst);
    if (!whole) {
        const int spanAt = spanOnTop ? 0 : sharpRows;
        sharpened.row(spanAt).setTo(low);
        sharpened.row(spanAt + 1).setTo(high);
    }

    cv::Mat smoothed = floatsOn(buffers.smoothed, sharpened.rows, cols);
    cv::bilateralFilter(sharpened, smoothed, optimization::kBilateralDiameter,
                        optimization::kBilateralSigmaColour, optimization::kBilateralSigmaSpace,
                        cv::BORDER_REFLECT_101);
    {
        const auto* in = smoothed.ptr<float>(ownAt);
        auto* out = run.result.ptr<std::uint16_t>(first);
        inChunks((last - first) * cols,
                 [&](int begin, int end) { lookUpSmoothed(in, run.finish, out, begin, end); });
    }
    if (last == rows) {
        const auto all = static_cast<int>(smoothed.total());
        cv::Mat smoothed16;
        smoothed.reshape(1, 1).colRange(all - run.tail, all).convertTo(smoothed16, CV_16U, 65535);
        cv::Mat tailOut;
        windowAndAdjust(smoothed16, tailOut, run.gamma, run.contrast, run.offset);
        tailOut.copyTo(run.result.reshape(1, 1).colRange(total - run.tail, total));
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

    // The stretch as floats and the steps after the smoothing, both by table.
    double smallest = 0, largest = 0;
    usableRange(samples, smallest, largest);
    cv::Mat stretch;
    stretchTable(smallest, largest, stretch);
    const cv::Vec3d key(gamma, contrast, offset);
    if (buffers.finishTable.empty() || buffers.finishKey != key) {
        windowAndAdjust(allSamples(), buffers.finishTable, gamma, contrast, offset);
        buffers.finishKey = key;
    }
    result.release();
    result.create(size, CV_16UC1);

    // In strips of whole rows, each through every step before the next strip starts, so that the
    // intermediates are a few strips' worth whatever the picture's size. The last strip holds at
    // least the recomputed last samples and the rows the smoothing reads beside them.
    const int minimumRows = 2 * kSmoothingReach + 1 + (2 * kBlock + size.width - 1) / size.width;
    const int strips = std::max(1, size.height / std::max(kStripRows, minimumRows));
    const int reach = blurReach(sigma);
    const int stripRows = (size.height + strips - 1) / strips;
    const StripRun run{samples,
                       turn,
                       size,
                       stretch.ptr<float>(),
                       sigma,
                       amount,
                       gamma,
                       contrast,
                       offset,
                       buffers.finishTable.ptr<std::uint16_t>(),
                       tailLength(total),
                       result,
                       cv::getGaussianKernel(2 * reach + 1, sigma, CV_32F),
                       cv::Mat(1, 1, CV_32F, cv::Scalar(1.0)),
                       std::min(size.height, stripRows + 2 * (kSmoothingReach + reach))};
    // From the top down, so that the rows a strip holds serve the next one. The steps inside a strip
    // run on OpenCV's threads.
    const auto allStrips = [&](float low, float high, float& seenLow, float& seenHigh) {
        seenLow = 1.0f;
        seenHigh = 0.0f;
        Window window;
        for (int strip = 0; strip < strips; ++strip) {
            const auto rowAt = [&](int boundary) {
                return static_cast<int>(static_cast<std::int64_t>(size.height) * boundary / strips);
            };
            enhanceStrip(run, buffers.strip, window, rowAt(strip), rowAt(strip + 1), low, high, seenLow,
                         seenHigh);
        }
    };
    // Sharpening a stretched picture almost always reaches both 0 and 1 (its darkest and brightest
    // samples); when it does not, the strips run again with the span they found.
    float seenLow = 0, seenHigh = 1;
    allStrips(0.0f, 1.0f, seenLow, seenHigh);
    if (strips > 1 && (seenLow != 0.0f || seenHigh != 1.0f)) {
        const float low = seenLow, high = seenHigh;
        allStrips(low, high, seenLow, seenHigh);
    }
}
