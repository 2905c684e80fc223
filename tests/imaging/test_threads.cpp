// The detector's callback thread stores exposures and takes retakes while the application's thread
// reads, retakes, transfers and resets; run under the thread sanitizer.
#include "imaging/image_holder.h"
#include "imaging/retaker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

namespace {

TEST(SharedRecords, ExposuresAndReadersRunSideBySide) {
    auto holder = std::make_shared<ImageHolder>();
    auto retaker = std::make_shared<Retaker>();
    auto indices = std::make_shared<IndexHandler>();
    indices->reset(4);
    holder->setLayouts(std::vector<GraphicLayout>(4, GraphicLayout{0, 0, 8, 8, true}));

    constexpr int exposures = 3000;
    std::atomic<bool> done{false};

    std::thread detector([&] {
        std::vector<unsigned short> frame(64, 1000);
        const int width = 8, height = 8, depth = 16;
        for (int i = 0; i < exposures; ++i) {
            holder->addImage(width, height, depth, frame.data(), retaker->takeRetake(), indices);
            std::this_thread::yield();
        }
        done = true;
    });

    // The application's side; a failed check ends it early, and the detector is joined either way.
    int round = 0;
    const auto application = [&] {
        // Keep reading until the detector is done, and long enough to meet it in every state.
        while (!done || round < 500) {
            ++round;
            const auto images = holder->snapshot();
            ASSERT_LE(images.size(), 5u);
            std::set<int> numbers;
            for (const auto& image : images) {
                ASSERT_EQ(image->pixels.size(), 64u);
                ASSERT_EQ(image->pixels[0], 65535 - 1000);
                numbers.insert(image->number);
            }
            // Only the composite (number 0) may share a number; retakes keep theirs.
            ASSERT_GE(numbers.size() + 1, images.size());

            const auto selection = indices->current();
            ASSERT_LT(selection.selected, selection.upperLimit);
            if (!images.empty()) {
                retaker->addRetake(static_cast<int>(images.size()) - 1);
                (void)retaker->front();
            }
            if (round % 7 == 0) {
                auto composite = std::make_shared<Image>();
                composite->pixels.assign(64, 65535 - 1000);
                holder->pushFront(composite);
                holder->popFront();
            }
            if (round % 13 == 0) {
                holder->withImages([](ImageHolder::Images& queue) {
                    for (auto& image : queue) {
                        image->rendered = true;
                    }
                });
            }
            if (round % 11 == 0) {
                indices->reset(4);
                retaker->reset();
                holder->resetImages();
            }
            std::this_thread::yield();
        }
    };
    application();
    detector.join();
    EXPECT_GT(holder->nextNumber(), 1);
}

} // namespace
