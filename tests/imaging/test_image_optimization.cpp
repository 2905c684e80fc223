#include "imaging/enhance_exposure.h"
#include "imaging/optimization_steps.h"
#include "imaging/perform_image_optimization.h"
#include "imaging/picture_size.h"
#include "tests/imaging/pictures.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <climits>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Picture {
    cv::Mat matrix;
    int width = -1;
    int height = -1;
};

Picture optimize(const std::shared_ptr<Image>& image) {
    Picture picture;
    perform_image_optimization(image, picture.matrix, picture.width, picture.height);
    return picture;
}

std::vector<std::uint16_t> optimizedValues(const std::shared_ptr<Image>& image) {
    return pictures::values(optimize(image).matrix);
}

TEST(ImageOptimization, WithoutEnhancementThePictureIsTheSamplesTurnedClockwiseWhenLandscape) {
    struct Case {
        int width, height;
        bool upright;
        std::vector<std::uint16_t> stored, expected;
        int pictureWidth, pictureHeight;
    };
    const std::vector<Case> cases{
        {3, 2, true, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}, 3, 2},
        // The first row is the first stored column read from the bottom up.
        {3, 2, false, {1, 2, 3, 4, 5, 6}, {4, 1, 5, 2, 6, 3}, 2, 3},
        {1, 3, false, {7, 8, 9}, {9, 8, 7}, 3, 1},
        {3, 1, false, {7, 8, 9}, {7, 8, 9}, 1, 3},
        {1, 1, false, {65535}, {65535}, 1, 1},
    };
    for (const auto& c : cases) {
        const auto image = pictures::make(c.width, c.height, c.stored, c.upright);
        const auto picture = optimize(image);
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) +
                     (c.upright ? " upright" : ""));
        EXPECT_EQ(picture.matrix.type(), CV_16UC1);
        EXPECT_EQ(picture.matrix.cols, c.pictureWidth);
        EXPECT_EQ(picture.matrix.rows, c.pictureHeight);
        EXPECT_EQ(picture.width, c.pictureWidth);
        EXPECT_EQ(picture.height, c.pictureHeight);
        EXPECT_EQ(pictureSize(*image).width, c.pictureWidth);
        EXPECT_EQ(pictureSize(*image).height, c.pictureHeight);
        EXPECT_EQ(pictures::values(picture.matrix), c.expected);
        EXPECT_EQ(image->pixels, c.stored) << "the stored samples are never changed";
    }
}

TEST(ImageOptimization, ContrastAndBrightnessRoundAndSaturate) {
    struct Case {
        double contrast;
        int brightness;
        std::vector<std::uint16_t> stored, expected;
    };
    const std::vector<Case> cases{
        {1.0, 1, {0, 100, 65280, 65535}, {255, 355, 65535, 65535}},
        {1.0, 300, {0, 100, 65280, 65535}, {65535, 65535, 65535, 65535}},
        {1.0, -1, {0, 100, 255, 1000}, {0, 0, 0, 745}},
        {2.0, 0, {3, 40000, 0, 1}, {6, 65535, 0, 2}},
        {0.25, 0, {9, 11, 65535, 1}, {2, 3, 16384, 0}},
        {1.0, INT_MAX, {0, 1, 2, 3}, {65535, 65535, 65535, 65535}},
        {1.0, INT_MIN, {65535, 1, 2, 3}, {0, 0, 0, 0}},
        {1e300, 0, {0, 1, 2, 3}, {0, 65535, 65535, 65535}},
        {-1e300, INT_MAX, {0, 1, 2, 3}, {65535, 0, 0, 0}},
        {std::numeric_limits<double>::quiet_NaN(), 0, {0, 1, 2, 65535}, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        auto image = pictures::make(2, 2, c.stored);
        image->contrast = c.contrast;
        image->brightness = c.brightness;
        EXPECT_EQ(optimizedValues(image), c.expected) << c.contrast << " " << c.brightness;
    }
}

TEST(ImageOptimization, EnhancementTurnsFullScaleAndUniformImagesBlack) {
    std::vector<std::shared_ptr<Image>> images{
        pictures::uniform(4, 4, 65535),
        pictures::uniform(5, 7, 1234),
        pictures::uniform(1, 1, 0),
        pictures::uniform(1, 1, 65535),
    };
    // Uniform except for saturated samples, which the stretch leaves out.
    auto spotted = pictures::uniform(9, 6, 20000);
    spotted->pixels[0] = spotted->pixels[13] = spotted->pixels[53] = 65535;
    images.push_back(spotted);

    for (const bool ultraHd : {true, false}) {
        for (const auto& image : images) {
            image->ultraHd = ultraHd;
            const auto values = optimizedValues(image);
            EXPECT_EQ(values, std::vector<std::uint16_t>(values.size(), 0))
                << image->width << "x" << image->height << " of " << image->pixels[1 % image->pixels.size()];
            image->brightness = 1;
            EXPECT_EQ(optimizedValues(image), std::vector<std::uint16_t>(values.size(), 255))
                << "the final step applies after the enhancement";
            image->brightness = 0;
        }
    }
}

TEST(ImageOptimization, StretchSpansTheUnsaturatedSamplesOnly) {
    // Two flat halves with a column of saturated samples at the left edge; far from the edges (more
    // than the blur's reach), the darker half becomes black and the brighter one white, as it would
    // not if the saturated samples took part in the stretch.
    const int width = 200, height = 12;
    std::vector<std::uint16_t> samples;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            samples.push_back(x == 0 ? 65535 : x < 100 ? 20000 : 30000);
        }
    }
    for (const bool ultraHd : {true, false}) {
        auto image = pictures::make(width, height, samples, true, true);
        image->ultraHd = ultraHd;
        const auto picture = optimize(image).matrix;
        for (const int y : {0, 6, 11}) {
            EXPECT_EQ(picture.at<std::uint16_t>(y, 0), 0) << "a saturated sample";
            EXPECT_EQ(picture.at<std::uint16_t>(y, 50), 0);
            EXPECT_EQ(picture.at<std::uint16_t>(y, 150), 65535);
        }
    }
}

TEST(ImageOptimization, GammaCurveUsesTheReciprocalExponent) {
    std::vector<std::uint16_t> ramp;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 300; ++x) {
            ramp.push_back(static_cast<std::uint16_t>(1000 + 150 * x));
        }
    }
    const auto withGamma = [&](double gamma) {
        auto image = pictures::make(300, 8, ramp, true, true);
        image->gamma = gamma;
        return optimizedValues(image);
    };
    const auto linear = withGamma(1.0);
    const auto squared = withGamma(0.5);
    const auto root = withGamma(2.0);
    ASSERT_GT(*std::max_element(linear.begin(), linear.end()), 60000);
    for (std::size_t i = 0; i < linear.size(); ++i) {
        const double e = linear[i] / 65535.0;
        EXPECT_NEAR(squared[i], 65535 * e * e, 2.0) << i;
        if (linear[i] >= 1000) {
            EXPECT_NEAR(root[i], 65535 * std::sqrt(e), 3.0) << i;
        }
    }
}

TEST(ImageOptimization, LogsEachStageAndTheMaskingOnlyWhenEnhancing) {
    for (const bool enhance : {true, false}) {
        appfiles::startLog();
        optimize(pictures::uniform(3, 3, 100, enhance));
        std::vector<std::string> expected{"perform_image_optimization 1", "perform_image_optimization 3",
                                          "perform_image_optimization 4", "perform_image_optimization 5"};
        if (!enhance) {
            expected.erase(expected.begin() + 2);
        }
        EXPECT_EQ(appfiles::logLines(), expected);
    }
}

TEST(ImageOptimization, AnyConsistentImageGivesAPictureOfItsOwnWithinBounds) {
    // Tiny and odd sizes, both orientations, extreme adjustment values: the picture has the reported
    // size, owns its memory, and the samples stay as they were.
    const std::vector<std::pair<int, int>> sizes{{1, 1}, {1, 2}, {2, 1},  {3, 2},
                                                 {5, 1}, {1, 7}, {17, 9}, {90, 3}};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::pair<double, double>> adjustments{
        {1.0, 0.68}, {nan, 0.0}, {1e300, -1.0}, {-2.0, nan}};
    std::uint32_t seed = 1;
    for (const auto& [width, height] : sizes) {
        for (const bool upright : {true, false}) {
            for (const auto& [contrast, gamma] : adjustments) {
                for (const bool enhance : {true, false}) {
                    auto image = pictures::make(width, height, pictures::noise(width * height, ++seed),
                                                upright, enhance);
                    image->contrast = contrast;
                    image->gamma = gamma;
                    const auto stored = image->pixels;
                    const auto picture = optimize(image);
                    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " upright " +
                                 std::to_string(upright) + " contrast " + std::to_string(contrast) +
                                 " gamma " + std::to_string(gamma));
                    EXPECT_EQ(picture.matrix.type(), CV_16UC1);
                    EXPECT_EQ(picture.matrix.cols, picture.width);
                    EXPECT_EQ(picture.matrix.rows, picture.height);
                    EXPECT_EQ(picture.width, upright ? width : height);
                    EXPECT_EQ(image->pixels, stored);
                    const auto* begin = reinterpret_cast<const uchar*>(image->pixels.data());
                    EXPECT_TRUE(picture.matrix.data < begin ||
                                picture.matrix.data >= begin + 2 * stored.size());
                }
            }
        }
    }
}

TEST(ImageOptimization, RefusesAnImageWhoseSamplesDoNotMatchItsSize) {
    std::vector<std::shared_ptr<Image>> images{
        nullptr, pictures::make(0, 0, {}), pictures::make(2, 2, {1, 2, 3}),
        pictures::make(2, 2, {1, 2, 3, 4, 5}), pictures::make(-1, -4, {1, 2, 3, 4})};
    for (const auto& image : images) {
        cv::Mat result;
        int width = -7, height = -7;
        EXPECT_THROW(perform_image_optimization(image, result, width, height), std::invalid_argument);
        EXPECT_TRUE(result.empty());
        EXPECT_EQ(width, -7);
    }
}

TEST(ImageOptimization, KeptBuffersNeverChangeAResultNorAnEarlierPicture) {
    auto first = pictures::make(64, 48, pictures::noise(64 * 48, 7), true, true);
    auto other = pictures::make(30, 70, pictures::noise(30 * 70, 8), false, true);
    // Same size as the first, saturated where the first is not: the stretch's mask differs.
    auto sameSize = pictures::make(64, 48, pictures::noise(64 * 48, 9), true, true);
    for (std::size_t i = 0; i < sameSize->pixels.size(); ++i) {
        sameSize->pixels[i] = first->pixels[i] == 65535 ? 100 : (i % 3 == 0 ? 65535 : sameSize->pixels[i]);
    }

    const auto reference = optimize(first).matrix;
    const cv::Mat kept = reference.clone();
    for (const auto& image : {other, first, sameSize, first}) {
        releaseOptimizationBuffers();
        const auto fresh = optimizedValues(image);
        optimize(sameSize);
        EXPECT_EQ(optimizedValues(image), fresh) << image->width << "x" << image->height;
    }
    EXPECT_EQ(cv::norm(reference, kept, cv::NORM_INF), 0) << "an earlier picture was overwritten";

    // A result matrix that shares memory with another one gets memory of its own.
    cv::Mat shared(48, 64, CV_16UC1, cv::Scalar(4321));
    cv::Mat result = shared;
    int width = 0, height = 0;
    perform_image_optimization(first, result, width, height);
    EXPECT_EQ(cv::countNonZero(shared != 4321), 0);
}

TEST(OptimizationSteps, MaskSaturatedClearsOnlyFullScaleSamples) {
    // Long enough to pass through vector lanes and the remainder.
    std::vector<std::uint16_t> samples{0, 1, 65535, 65534, 32768, 65535, 7, 7,     7, 7,
                                       7, 7, 7,     7,     7,     65535, 9, 65535, 3};
    cv::Mat source(1, static_cast<int>(samples.size()), CV_16UC1, samples.data());
    cv::Mat masked, mask;
    maskSaturated(source, masked, mask);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const bool full = samples[i] == 65535;
        EXPECT_EQ(mask.at<std::uint16_t>(0, static_cast<int>(i)), full ? 0 : 65535) << i;
        EXPECT_EQ(masked.at<std::uint16_t>(0, static_cast<int>(i)), full ? 0 : samples[i]) << i;
    }
    const auto original = samples;
    maskSaturated(source, source, mask);
    EXPECT_EQ(pictures::values(source), pictures::values(masked)) << "in place";
    EXPECT_NE(samples, original);
}

TEST(OptimizationSteps, ClampImageBoundsEveryElementAndKeepsNaN) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float justBelowTenth = std::nextafter(0.1f, 0.0f);
    struct Case {
        double low, high;
        std::vector<float> in, out;
    };
    const std::vector<Case> cases{
        {0.0,
         1.0,
         {-inf, -1, 0, 0.5f, 1, 1.0000001f, 2, inf, 0.25f, -0.0f, 3},
         {0, 0, 0, 0.5f, 1, 1, 1, 1, 0.25f, -0.0f, 1}},
        {0.0,
         65535.0,
         {-5, 70000, 65535, 12.5f, 65536, -1e-30f, 1e30f, 9, 0},
         {0, 65535, 65535, 12.5f, 65535, 0, 65535, 9, 0}},
        // A bound between two floats: an element is compared with the bound itself.
        {0.0, 0.1, {0.1f, justBelowTenth, 0.2f}, {0.1f, justBelowTenth, 0.1f}},
    };
    for (const auto& c : cases) {
        for (const std::size_t nanAt : {std::size_t{0}, c.in.size() - 1}) {
            auto values = c.in;
            values[nanAt] = nan;
            cv::Mat matrix(1, static_cast<int>(values.size()), CV_32F, values.data());
            clampImage(matrix, c.low, c.high);
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (i == nanAt) {
                    EXPECT_TRUE(std::isnan(values[i])) << i;
                } else {
                    EXPECT_EQ(values[i], c.out[i]) << c.high << " at " << i;
                }
            }
        }
    }
    cv::Mat integers(2, 2, CV_16UC1);
    EXPECT_THROW(clampImage(integers, 0, 1), cv::Exception);
}

// The chain as its OpenCV calls, with its constants written out: Ultra HD blurs with sigma 10 and
// sharpens by 5.5, HD by 5 and 3; the bilateral filter has diameter 5 and sigmas 10; the window runs
// from 655 over 64880.
cv::Mat referenceChain(const Image& image, bool ultraHd) {
    cv::Mat picture =
        cv::Mat(image.height, image.width, CV_16UC1, const_cast<std::uint16_t*>(image.pixels.data())).clone();
    if (!image.upright) {
        cv::rotate(picture, picture, cv::ROTATE_90_CLOCKWISE);
    }
    cv::Mat mask16;
    cv::Mat(picture != 65535).convertTo(mask16, CV_16U, 257);
    cv::Mat masked, mask8, stretched = cv::Mat::zeros(picture.size(), CV_16UC1);
    cv::bitwise_and(picture, mask16, masked);
    cv::convertScaleAbs(mask16, mask8, 1.0 / 257, 0);
    cv::normalize(masked, stretched, 0, 65535, cv::NORM_MINMAX, -1, mask8);
    cv::Mat unit, blurred, detail, sharpened, smoothed, smoothed16, windowed, result;
    stretched.convertTo(unit, CV_32F, 1.0 / 65535);
    cv::GaussianBlur(unit, blurred, cv::Size(0, 0), ultraHd ? 10.0 : 5.0, 0, cv::BORDER_REFLECT_101);
    cv::addWeighted(unit, 1.0, blurred, -1.0, 0, detail);
    cv::addWeighted(unit, 1.0, detail, ultraHd ? 5.5 : 3.0, 0, sharpened);
    sharpened = cv::min(cv::max(sharpened, 0.0), 1.0);
    cv::bilateralFilter(sharpened, smoothed, 5, 10.0, 10.0, cv::BORDER_REFLECT_101);
    smoothed.convertTo(smoothed16, CV_16U, 65535);
    smoothed16.convertTo(windowed, CV_32F, 1.0);
    windowed = (windowed - 655) / 64880;
    windowed = cv::max(windowed, 0.0);
    cv::pow(windowed, 1.0 / image.gamma, windowed);
    windowed = windowed * 65535;
    windowed = cv::min(cv::max(windowed, 0.0), 65535.0);
    windowed.convertTo(result, CV_16U, 1.0);
    result.convertTo(result, CV_16U, image.contrast, image.brightness * 255.0);
    return result;
}

// A smooth exposure with grain and a saturated strip; a flat one has the same value everywhere.
std::shared_ptr<Image> exposure(int width, int height, bool upright = true, bool flat = false) {
    std::vector<std::uint16_t> samples;
    std::uint32_t seed = 7;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            samples.push_back(flat ? 30000
                              : x > width - 4
                                  ? 65535
                                  : static_cast<std::uint16_t>(9000 + 150 * x + 90 * y + (seed >> 22)));
        }
    }
    return pictures::make(width, height, samples, upright, true);
}

// Small pictures run the steps one by one; large ones go through the chain in strips of rows (odd
// widths put the rows at any alignment, narrow pictures make the last strip hold the last samples,
// a flat picture's sharpened span is not [0, 1]).
TEST(ImageOptimization, EnhancementIsTheReferenceChainBitForBit) {
    struct Case {
        int width, height;
        double gamma, contrast;
        int brightness;
        bool upright = true;
        bool flat = false;
    };
    const Case cases[] = {
        {24, 17, 0.68, 1.0, 0},   {181, 97, 0.68, 1.0, 0},         {256, 128, 1.3, 1.2, -3},
        {130, 171, 0.5, 0.8, 2},  {181, 700, 0.68, 1.0, 0},        {1301, 263, 0.68, 1.1, 1},
        {61, 1031, 0.9, 1.0, 0},  {257, 300, 0.68, 1.0, 0, false}, {183, 641, 0.68, 1.0, 0, true, true},
        {4, 12000, 0.68, 1.0, 0}, {5000, 7, 0.68, 1.0, 0, false},
    };
    for (const auto& c : cases) {
        for (const bool ultraHd : {true, false}) {
            auto image = exposure(c.width, c.height, c.upright, c.flat);
            image->ultraHd = ultraHd;
            image->gamma = c.gamma;
            image->contrast = c.contrast;
            image->brightness = c.brightness;
            const cv::Mat expected = referenceChain(*image, ultraHd);
            const auto actual = optimizedValues(image);
            EXPECT_EQ(actual, pictures::values(expected))
                << c.width << "x" << c.height << (ultraHd ? " Ultra HD" : " HD")
                << (c.upright ? "" : " turned");
        }
    }
}

// A full-size exposure's intermediates are a few strips of rows, kept for the next picture and not
// made anew for a smaller one; reusing them gives the same picture, the reference chain's.
TEST(ImageOptimization, LargePicturesKeepAFewStripsOfIntermediates) {
    optimization::Buffers buffers;
    const auto enhance = [&buffers](const Image& image) {
        const cv::Mat stored(image.height, image.width, CV_16UC1,
                             const_cast<std::uint16_t*>(image.pixels.data()));
        cv::Mat result;
        enhanceExposure(stored, !image.upright, result, image.gamma, optimization::kUltraHdSigma,
                        optimization::kUltraHdAmount, image.contrast, image.brightness * 255.0, buffers);
        return result;
    };
    const auto large = exposure(1300, 1700);
    const cv::Mat first = enhance(*large);
    EXPECT_EQ(pictures::values(first), pictures::values(referenceChain(*large, true)));
    const auto& strip = buffers.strip;
    for (const cv::Mat* matrix : {&strip.unit, &strip.across, &strip.sharpened, &strip.smoothed}) {
        EXPECT_LT(matrix->total(), large->pixels.size() / 6);
    }
    for (const cv::Mat* matrix : {&buffers.turned, &buffers.masked, &buffers.unit, &buffers.work}) {
        EXPECT_TRUE(matrix->empty());
    }
    const auto* unitData = strip.unit.data;
    enhance(*exposure(700, 900, false));
    EXPECT_EQ(strip.unit.data, unitData) << "a smaller picture made new intermediates";
    EXPECT_EQ(cv::norm(enhance(*large), first, cv::NORM_INF), 0);
}

} // namespace
