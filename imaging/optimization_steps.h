// The steps of the optimization chain, each on OpenCV matrices. perform_image_optimization runs them
// in order; they are separate so that each can be checked and measured on its own.
#pragma once

#include <opencv2/core.hpp>

namespace optimization {

// A sample at this value is saturated (the detector's full scale) and excluded from the enhancement.
inline constexpr unsigned short kFullScale = 65535;
// Intensity window after the smoothing: kWindowLow and below become black, 65535 becomes white.
inline constexpr double kWindowLow = 655;
inline constexpr double kWindowWidth = 64880;
// Unsharp masking: blur sigma and amount for Ultra HD and for HD.
inline constexpr double kUltraHdSigma = 10.0;
inline constexpr double kUltraHdAmount = 5.5;
inline constexpr double kHdSigma = 5.0;
inline constexpr double kHdAmount = 3.0;
// Edge-preserving smoothing.
inline constexpr int kBilateralDiameter = 5;
inline constexpr double kBilateralSigmaColour = 10.0;
inline constexpr double kBilateralSigmaSpace = 10.0;

// Intermediate matrices of one run, kept between runs so that a picture of the same size needs no new
// memory. Reusing them never changes a result. Their memory is pages of their own
// (imaging/page_mat_allocator.h), given back to the system when they are released.
struct Buffers {
    Buffers();

    cv::Mat turned;     // the quarter-turned copy of a landscape image
    cv::Mat mask;       // 16-bit saturation mask
    cv::Mat masked;     // the samples with saturated ones set to 0
    cv::Mat mask8;      // 8-bit form of the mask
    cv::Mat normalized; // min-max stretch, later the smoothed picture back in 16 bits
    cv::Mat unit;       // the stretch as floats in [0, 1], later the smoothed floats
    cv::Mat work;       // blur, detail, sharpened, then the windowed and gamma-corrected floats
    // A large picture goes through the chain in strips of rows, one after the other: the stretched
    // floats of a strip and the rows around it, their blur along the rows (both kept from one strip to
    // the next where the strips overlap), the blurred then sharpened strip and its smoothing. Each
    // grows to the largest strip met and is kept.
    struct Strip {
        cv::Mat unit;
        cv::Mat across;
        cv::Mat sharpened;
        cv::Mat smoothed;
    };
    Strip strip;
    // The last steps of the chain by 16-bit sample, for the gamma, contrast and offset in finishKey.
    cv::Mat finishTable;
    cv::Vec3d finishKey;
};

} // namespace optimization

// mask: 65535 where the 16-bit source is below full scale, 0 where it is at full scale.
// masked: source AND mask (saturated samples become 0); it may be the source itself.
void maskSaturated(const cv::Mat& source, cv::Mat& masked, cv::Mat& mask);

// The enhancement chain on a masked 16-bit image: min-max stretch over the unsaturated samples,
// unsharp masking (sigma, amount), clamping, bilateral smoothing, the intensity window and the gamma
// curve (exponent 1 / gamma). `result` gets a new 16-bit matrix of its own. The overload with buffers
// keeps its intermediates there.
void enhanceImage(const cv::Mat& masked, cv::Mat& result, double gamma, const cv::Mat& mask, double sigma,
                  double amount);
void enhanceImage(const cv::Mat& masked, cv::Mat& result, double gamma, const cv::Mat& mask, double sigma,
                  double amount, optimization::Buffers& buffers);

// Clamps every element of a 32-bit float matrix to [low, high]; NaN elements stay as they are.
void clampImage(cv::Mat& matrix, double low, double high);
