// The dialog's store of optimized pictures: when it optimizes again and what it hands out.
#include "tests/ui/dialog_fixture.h"

#include "ui/optimized_image_cache.h"

#include <opencv2/core.hpp>

namespace {

// A stand-in optimization: a gradient whose values depend on the image's contrast and brightness,
// turned when the image is not upright; counts its runs.
struct CountingOptimizer {
    int runs = 0;
    void operator()(std::shared_ptr<Image> image, cv::Mat& result, int& width, int& height) {
        ++runs;
        width = image->upright ? image->width : image->height;
        height = image->upright ? image->height : image->width;
        result.create(height, width, CV_16UC1);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                result.at<std::uint16_t>(y, x) = cv::saturate_cast<std::uint16_t>(
                    (x * 500 + y * 300) * image->contrast + image->brightness * 255);
            }
        }
    }
};

std::shared_ptr<Image> makeImage(int width = 30, int height = 50) {
    auto image = std::make_shared<Image>();
    image->width = width;
    image->height = height;
    image->pixels.assign(static_cast<std::size_t>(width) * height, 1000);
    return image;
}

class OptimizedImageCacheTest : public testing::Test {
protected:
    void SetUp() override { uitest::application(); }

    std::shared_ptr<CountingOptimizer> optimizer = std::make_shared<CountingOptimizer>();
    OptimizedImageCache cache{[o = optimizer](std::shared_ptr<Image> image, cv::Mat& result, int& w, int& h) {
        (*o)(std::move(image), result, w, h);
    }};
};

TEST_F(OptimizedImageCacheTest, OptimizesOnlyWhenTheImageOrItsSettingsChange) {
    auto image = makeImage();
    const QSize tile(91, 121);
    const QSize preview(300, 450);

    struct Step {
        const char* name;
        std::function<void()> change;
        QSize size;
        int runs;
    };
    const Step steps[] = {
        {"first drawing", [] {}, tile, 1},
        {"same again", [] {}, tile, 1},
        {"the preview of the same picture", [] {}, preview, 1},
        {"tile again", [] {}, tile, 1},
        {"contrast", [&] { image->contrast = 1.5; }, tile, 2},
        {"preview after the contrast change", [] {}, preview, 2},
        {"brightness", [&] { image->brightness = 7; }, tile, 3},
        {"gamma", [&] { image->gamma = 0.9; }, tile, 4},
        {"turned", [&] { image->upright = false; }, tile, 5},
        {"Ultra HD", [&] { image->ultraHd = false; }, tile, 6},
        {"enhancement", [&] { image->enhance = false; }, tile, 7},
        {"drawn flag only", [&] { image->rendered = !image->rendered; }, tile, 7},
    };
    for (const auto& step : steps) {
        step.change();
        const QPixmap picture = cache.picture(image, step.size);
        EXPECT_EQ(optimizer->runs, step.runs) << step.name;
        EXPECT_FALSE(picture.isNull()) << step.name;
        EXPECT_TRUE(picture.width() == step.size.width() || picture.height() == step.size.height())
            << step.name;
        EXPECT_LE(picture.width(), step.size.width()) << step.name;
        EXPECT_LE(picture.height(), step.size.height()) << step.name;
    }
}

TEST_F(OptimizedImageCacheTest, KeptPictureIsTheOneAFreshOptimizationGives) {
    auto image = makeImage();
    image->contrast = 0.7;
    image->upright = false;
    const QSize size(131, 71);
    cache.picture(image, size);
    const QImage kept = cache.picture(image, size).toImage();

    OptimizedImageCache fresh{CountingOptimizer{}};
    EXPECT_EQ(kept, fresh.picture(image, size).toImage());
    EXPECT_EQ(kept.size(), QSize(50, 30).scaled(size, Qt::KeepAspectRatio)) << "turned, then fitted";
}

TEST_F(OptimizedImageCacheTest, ReleasedAndNewImagesAreNotConfused) {
    auto first = makeImage();
    cache.picture(first, {50, 50});
    EXPECT_EQ(cache.entryCount(), 1u);
    first.reset();

    // Another image, possibly at the same address, is optimized for itself.
    auto second = makeImage(20, 20);
    cache.picture(second, {50, 50});
    EXPECT_EQ(optimizer->runs, 2);
    EXPECT_EQ(cache.entryCount(), 1u);

    cache.clear();
    cache.picture(second, {50, 50});
    EXPECT_EQ(optimizer->runs, 3);
}

// A series drawn in its tiles and, one after the other, in the preview: the preview's picture is kept
// for the image drawn last only, each tile's for every image, so that the memory of the pictures
// does not grow by a preview per exposure; going back to an earlier image optimizes it again.
TEST_F(OptimizedImageCacheTest, OnlyTheLastImageKeepsItsLargerPictures) {
    const QSize tile(81, 121), preview(300, 450);
    std::vector<std::shared_ptr<Image>> series;
    for (int i = 0; i < 6; ++i) {
        series.push_back(makeImage(40 + i, 60));
        cache.picture(series.back(), preview);
        cache.picture(series.back(), tile);
        EXPECT_EQ(optimizer->runs, i + 1);
        EXPECT_EQ(cache.pictureCount(), series.size() + 1) << i;
    }
    cache.picture(series.back(), preview);
    EXPECT_EQ(optimizer->runs, 6) << "the last image keeps its preview";
    cache.picture(series.front(), tile);
    EXPECT_EQ(optimizer->runs, 6) << "every image keeps its tile";
    const QPixmap again = cache.picture(series.front(), preview);
    EXPECT_EQ(optimizer->runs, 7);
    EXPECT_EQ(again.size(), QSize(40, 60).scaled(preview, Qt::KeepAspectRatio));
    EXPECT_EQ(cache.pictureCount(), series.size() + 1);
}

TEST_F(OptimizedImageCacheTest, NoPictureWithoutImageOrResult) {
    EXPECT_TRUE(cache.picture(nullptr, {10, 10}).isNull());
    OptimizedImageCache failing{[](std::shared_ptr<Image>, cv::Mat& result, int& w, int& h) {
        result = cv::Mat();
        w = h = 0;
    }};
    EXPECT_TRUE(failing.picture(makeImage(), {10, 10}).isNull());
}

} // namespace
