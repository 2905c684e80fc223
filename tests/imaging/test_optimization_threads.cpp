#include "imaging/perform_image_optimization.h"
#include "tests/imaging/pictures.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// The kept intermediates serve one call at a time; a call on another thread meanwhile works with
// its own and still gets the same picture.
TEST(ImageOptimizationThreads, ConcurrentCallsGiveTheSamePictures) {
    std::vector<std::shared_ptr<Image>> images;
    std::vector<std::vector<std::uint16_t>> expected;
    for (int i = 0; i < 4; ++i) {
        images.push_back(pictures::make(40 + i, 30, pictures::noise((40 + i) * 30, i + 1), i % 2 == 0, true));
        cv::Mat picture;
        int width = 0, height = 0;
        perform_image_optimization(images.back(), picture, width, height);
        expected.push_back(pictures::values(picture));
    }

    std::vector<std::thread> threads;
    std::vector<int> mismatches(images.size(), 0);
    for (std::size_t t = 0; t < images.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 6; ++round) {
                cv::Mat picture;
                int width = 0, height = 0;
                perform_image_optimization(images[t], picture, width, height);
                mismatches[t] += pictures::values(picture) != expected[t];
                if (round == 3) {
                    releaseOptimizationBuffers();
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(images.size(), 0));
}

} // namespace
