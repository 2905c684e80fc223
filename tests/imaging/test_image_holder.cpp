#include "imaging/image_holder.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// A four-tile template whose second tile is landscape; each exposure is one sample that tells the
// images apart after inversion.
class ImageHolderTest : public testing::Test {
protected:
    void SetUp() override {
        appfiles::startLog();
        indices->reset(4);
        holder.setLayouts({{0, 0, 10, 20, true}, {10, 0, 20, 10, false}, {30, 0, 10, 20, true}});
    }

    void expose(unsigned short sample, std::optional<int> retake = std::nullopt) {
        const int width = 1, height = 1, depth = 16;
        holder.addImage(width, height, depth, &sample, retake, indices);
    }

    std::vector<int> numbers() const {
        std::vector<int> result;
        for (const auto& image : holder.snapshot()) {
            result.push_back(image->number);
        }
        return result;
    }

    ImageHolder holder;
    std::shared_ptr<IndexHandler> indices = std::make_shared<IndexHandler>();
};

TEST_F(ImageHolderTest, TilesFillInOrderAndAFullTemplateHoldsTheExposureForARetake) {
    holder.setUltraHd(false);
    for (int i = 0; i < 4; ++i) {
        expose(static_cast<unsigned short>(i));
        EXPECT_EQ(indices->selected, i);
    }
    appfiles::startLog();
    expose(9);
    EXPECT_EQ(appfiles::logLines(),
              (std::vector<std::string>{"image not placed: every tile holds an image, held: 1"}));
    EXPECT_EQ(holder.heldCount(), 1u) << "a patient's dose is never dropped";
    EXPECT_EQ(numbers(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(holder.nextNumber(), 5);
    const auto images = holder.snapshot();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(images[i]->pixels[0], 65535 - i);
        EXPECT_EQ(images[i]->upright, i != 1) << "only tile 1 is landscape; tile 3 has no layout";
        EXPECT_FALSE(images[i]->ultraHd);
    }
    EXPECT_EQ(holder.placeHeld(*indices), 0u) << "no free tile";

    // A Re-take of landscape tile 1 takes the held exposure at once, with the tile's number.
    EXPECT_TRUE(holder.retakeWithHeld(1, *indices));
    EXPECT_EQ(holder.heldCount(), 0u);
    EXPECT_EQ(numbers(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(holder.imageAt(1)->pixels[0], 65535 - 9);
    EXPECT_FALSE(holder.imageAt(1)->upright);
    EXPECT_FALSE(holder.retakeWithHeld(1, *indices)) << "nothing held any more";
}

// Save puts the composite in front and hands the images over: from then until the dialog is shown
// again, no exposure changes them, a retake that waited included; what arrives is held and fills
// the free tiles afterwards.
TEST_F(ImageHolderTest, ExposuresDuringAHandoverAreHeldAndRetakesCountTilesBehindTheComposite) {
    expose(1);
    expose(2);
    auto composite = std::make_shared<Image>();
    composite->composite = true;
    holder.pushFront(composite);
    expose(50, 1); // a retake of tile 1 with the composite in front
    EXPECT_EQ(holder.imageAt(2)->pixels[0], 65535 - 50) << "tile 1 stands behind the composite";
    EXPECT_EQ(holder.imageAt(1)->pixels[0], 65535 - 1) << "tile 0 untouched";

    holder.beginHandover(composite);
    const auto handedOver = holder.snapshot();
    expose(60, 0);
    expose(70);
    EXPECT_EQ(holder.snapshot(), handedOver);
    EXPECT_EQ(holder.heldCount(), 2u);
    EXPECT_EQ(holder.placeHeld(*indices), 0u) << "not while handing over";

    // The application took every image; the dialog shows again.
    while (holder.popFront()) {
    }
    holder.endHandover();
    EXPECT_EQ(holder.placeHeld(*indices), 2u);
    EXPECT_EQ(numbers(), (std::vector<int>{3, 4}));
    EXPECT_EQ(holder.imageAt(0)->pixels[0], 65535 - 60);
    EXPECT_EQ(indices->selected, 1);
}

TEST_F(ImageHolderTest, ARetakeKeepsTheTileNumberAndSelectsTheFirstEmptyTile) {
    expose(1);
    expose(2);
    appfiles::startLog();
    expose(100, 1);
    EXPECT_EQ(numbers(), (std::vector<int>{1, 2}));
    EXPECT_EQ(holder.imageAt(1)->pixels[0], 65535 - 100);
    EXPECT_FALSE(holder.imageAt(1)->upright);
    EXPECT_EQ(holder.nextNumber(), 3);
    const std::vector<std::string> expected{
        "img_size 2 orgSelectIndex 1",
        "setSelected index 2 upperLimit: 4",
        "selected index 2 upperLimit: 4",
        "selectedIndex 2 prevIndex 1 -- selected",
    };
    EXPECT_EQ(appfiles::logLines(), expected);

    expose(3);
    expose(4);
    indices->select_index(3, false); // the user deselects the last tile
    expose(5, 0);
    EXPECT_EQ(numbers(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(holder.imageAt(0)->pixels[0], 65535 - 5);
    EXPECT_EQ(appfiles::logLines().back(), "selectedIndex -1 prevIndex 3 -- unselected");
}

TEST_F(ImageHolderTest, ARetakeOfATileWithoutAnImageFillsTheNextTile) {
    expose(1);
    for (const int index : {3, 2, -1}) {
        expose(2, index);
    }
    EXPECT_EQ(numbers(), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(indices->selected, 3);
}

TEST_F(ImageHolderTest, ResetKeepsTheNumberingAndTheCompositeGoesFirst) {
    expose(1);
    expose(2);
    holder.resetImages();
    EXPECT_EQ(holder.imageCount(), 0u);
    EXPECT_EQ(holder.layouts().size(), 3u);
    indices->reset(4);
    expose(3);
    auto composite = std::make_shared<Image>();
    holder.pushFront(composite);
    EXPECT_EQ(numbers(), (std::vector<int>{0, 3}));
    EXPECT_EQ(holder.popFront(), composite);
    EXPECT_EQ(holder.popFront()->number, 3);
    EXPECT_EQ(holder.popFront(), nullptr);
}

TEST_F(ImageHolderTest, AFrameWithoutPixelsIsLoggedAndDropped) {
    const int width = 4, height = 4, depth = 16;
    holder.addImage(width, height, depth, nullptr, std::nullopt, indices);
    holder.addImage(width, height, depth, nullptr, std::nullopt, nullptr);
    EXPECT_EQ(holder.imageCount(), 0u);
    EXPECT_EQ(holder.nextNumber(), 1);
    EXPECT_EQ(appfiles::logLines(),
              (std::vector<std::string>{"image received", "exception: image frame has no pixels"}));
}

// An exposure's log lines are written after the image and selection locks are released: while the
// disk holds the writer (here a pipe nobody reads yet), the dialog still reads the images and the
// selection.
TEST_F(ImageHolderTest, LogIsWrittenOutsideTheLocks) {
    const auto log = appfiles::folder() / "ds.log";
    std::filesystem::remove(log);
    ASSERT_EQ(mkfifo(log.c_str(), 0600), 0);
    auto exposure = std::async(std::launch::async, [this] {
        expose(100);
        expose(200, 0);
    });
    auto reader = std::async(std::launch::async, [this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return std::pair{holder.imageCount(), indices->current().selected};
    });
    const bool readWhileWriting = reader.wait_for(std::chrono::seconds(5)) == std::future_status::ready;

    const int drain = open(log.c_str(), O_RDONLY | O_NONBLOCK); // lets the writer finish
    ASSERT_GE(drain, 0);
    exposure.get();
    close(drain);
    std::filesystem::remove(log);
    EXPECT_TRUE(readWhileWriting);
    reader.get();
    EXPECT_EQ(holder.imageCount(), 1u);
}

} // namespace
