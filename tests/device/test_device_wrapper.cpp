// The detector wrapper: the SDK callback's road from event 1001 to a stored image, the trigger
// set-up, the software start and the two teardown operations, over a scriptable SDK.
#include "device/device_wrapper.h"
#include "tests/device/fake_sdk.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>

#include <QObject>

#include <algorithm>
#include <numeric>

namespace {

using appfiles::logLines;
using Lines = std::vector<std::string>;

class Wrapper : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sdk.loaded());
        appfiles::startLog();
        wrapper->indices->reset(4);
        wrapper->images->setLayouts(std::vector<GraphicLayout>(4, GraphicLayout{0, 0, 10, 10, true}));
    }
    void TearDown() override {
        sdk.join();
        setStaticInstance(nullptr);
    }

    // A detector instance on the fake, reporting through SDKCallbackHandlerV2.
    std::shared_ptr<CDetector> openDetector(std::int32_t id) {
        auto detector = std::make_shared<CDetector>();
        sdk.setCreateResult(0, id);
        EXPECT_EQ(detector->create("/work/SN1", SDKCallbackHandlerV2), 0);
        return detector;
    }

    // Delivers one frame of the given size through the callback, as the SDK does.
    void deliver(int width, int height, unsigned short value) {
        std::vector<unsigned short> pixels(static_cast<std::size_t>(std::max(width * height, 1)), value);
        fpd::ImageDescriptor frame{width, height, 2, pixels.data()};
        SDKCallbackHandlerV2(1, fpd::kEvtTaskStarted, 0, "", fpd::kCmdAcquisitionTask, 0, 0, nullptr);
        SDKCallbackHandlerV2(1, fpd::kEvtImageReady, 0, "", fpd::kCmdAcquisitionTask, 0, sizeof frame,
                             &frame);
    }

    static std::vector<int> tiles(const ImageHolder& holder) {
        std::vector<int> firstSamples;
        for (const auto& image : holder.snapshot()) {
            firstSamples.push_back(image->pixels.front());
        }
        return firstSamples;
    }

    fakesdk::FakeSdk sdk{FAKE_SDK_FOLDER};
    std::shared_ptr<DeviceWrapper> wrapper = std::make_shared<DeviceWrapper>();
};

TEST_F(Wrapper, NewWrapperHasFreshRecordsAndNoDetector) {
    EXPECT_EQ(wrapper->detector(), nullptr);
    EXPECT_EQ(wrapper->images->imageCount(), 0u);
    EXPECT_TRUE(wrapper->retaker->empty());
    EXPECT_NE(wrapper->state, wrapper->state2);
    EXPECT_EQ(*wrapper->config, ConfigFile{});
    EXPECT_FALSE(wrapper->tempFolder().has_value());
    EXPECT_FALSE(wrapper->hasDialog());

    auto detector = std::make_shared<CDetector>();
    DeviceWrapper around(detector);
    EXPECT_EQ(around.detector(), detector);
    EXPECT_EQ(around.releaseDetector(), detector);
    EXPECT_EQ(around.detector(), nullptr);
}

TEST_F(Wrapper, DialogIsOwnedUntilTakenBack) {
    bool destroyed = false;
    auto dialog = std::make_unique<QObject>();
    QObject::connect(dialog.get(), &QObject::destroyed, [&] { destroyed = true; });
    wrapper->setDialog(std::move(dialog));
    EXPECT_TRUE(wrapper->hasDialog());
    int seen = 0;
    EXPECT_TRUE(wrapper->withDialog([&](QObject&) { ++seen; }));
    EXPECT_EQ(seen, 1);
    wrapper->takeDialog().reset();
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(wrapper->withDialog([&](QObject&) { ++seen; }));
    EXPECT_EQ(seen, 1);
}

TEST_F(Wrapper, CallbackWithoutStaticInstanceDoesNothing) {
    deliver(4, 4, 100);
    EXPECT_EQ(wrapper->images->imageCount(), 0u);
    EXPECT_EQ(logLines(), Lines{});
}

TEST_F(Wrapper, ExposureIsStoredInvertedInTheNextTile) {
    setStaticInstance(wrapper);
    deliver(3, 2, 1000);
    deliver(3, 2, 2000);
    const auto images = wrapper->images->snapshot();
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0]->width, 3);
    EXPECT_EQ(images[0]->height, 2);
    EXPECT_EQ(images[0]->depth, 2);
    EXPECT_EQ(images[0]->pixels, std::vector<std::uint16_t>(6, 65535 - 1000));
    EXPECT_EQ(images[1]->number, 2);
    EXPECT_EQ(wrapper->indices->selected.load(), 1);

    const Lines lines = logLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Acquiring image...");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2].rfind("Got Image: ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[2].substr(lines[2].size() - 3), " ms");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "image received"), lines.end());
}

TEST_F(Wrapper, PendingRetakesAreFilledInOrder) {
    setStaticInstance(wrapper);
    for (unsigned short v : {10, 20, 30}) {
        deliver(2, 2, v);
    }
    wrapper->retaker->addRetake(2);
    wrapper->retaker->addRetake(0);
    deliver(2, 2, 40); // replaces tile 2
    deliver(2, 2, 50); // replaces tile 0
    deliver(2, 2, 60); // no retake left: the next free tile
    EXPECT_EQ(tiles(*wrapper->images), (std::vector<int>{65535 - 50, 65535 - 20, 65535 - 40, 65535 - 60}));
    std::vector<int> numbers;
    for (const auto& image : wrapper->images->snapshot()) {
        numbers.push_back(image->number);
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_TRUE(wrapper->retaker->empty());
}

TEST_F(Wrapper, UnusableFramesAreDroppedAndKeepTheRetake) {
    setStaticInstance(wrapper);
    deliver(2, 2, 10);
    wrapper->retaker->addRetake(0);
    struct Case {
        int width;
        int height;
        bool withPixels;
    };
    for (const Case c :
         {Case{0, 5, true}, Case{5, -1, true}, Case{kMaxImageSide + 1, 1, true}, Case{2, 2, false}}) {
        std::vector<unsigned short> pixels(4, 1);
        fpd::ImageDescriptor frame{c.width, c.height, 2, c.withPixels ? pixels.data() : nullptr};
        SDKCallbackHandlerV2(1, fpd::kEvtImageReady, 0, "", 0, 0, sizeof frame, &frame);
    }
    SDKCallbackHandlerV2(1, fpd::kEvtImageReady, 0, "", 0, 0, 0, nullptr);
    EXPECT_EQ(wrapper->images->imageCount(), 1u);
    EXPECT_EQ(wrapper->retaker->front(), 0);
    const Lines lines = logLines();
    for (const char* expected : {"Dropped image: width: 0 height: 5", "Dropped image: width: 5 height: -1",
                                 "Dropped image: width: 16385 height: 1", "Dropped image: no data"}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Dropped image: no data"), 2);
}

TEST_F(Wrapper, CallbackCompletesAwaitedCommandsOfTheStaticInstancesDetector) {
    auto detector = openDetector(3);
    wrapper->setDetector(detector);
    setStaticInstance(wrapper);
    sdk.onInvoke(fpd::kEvtCommandFailed, fpd::kCmdConnect, 108, 10);
    EXPECT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 5000), 108);
}

TEST_F(Wrapper, TriggerSetUpRunsEveryStepAndLogsEachFailure) {
    auto detector = openDetector(3);
    wrapper->setDetector(detector);
    setStaticInstance(wrapper);

    sdk.onInvoke(fpd::kEvtCommandFinished, fpd::kCmdWriteParams, 0, 5);
    configureTrigger();
    sdk.join();
    EXPECT_EQ(logLines(), Lines{});
    EXPECT_EQ(sdk.lastSet().first, fpd::kAttrTriggerThreshold);
    EXPECT_EQ(sdk.lastSet().second.intValue, 3);
    EXPECT_EQ(sdk.lastInvoke().command, fpd::kCmdWriteParams);

    sdk.reset();
    sdk.setSetAttrResult(104);
    sdk.setInvokeResult(105);
    configureTrigger();
    EXPECT_EQ(logLines(), (Lines{"Set TriggerMode failed:fake error 104", "",
                                 "Set TriggerThreshold failed:fake error 104", "",
                                 "Write params failed:fake error 105", ""}));
    EXPECT_EQ(sdk.calls("SetAttr"), 2);
    EXPECT_EQ(sdk.calls("Invoke"), 1);
}

TEST_F(Wrapper, TriggerSetUpWithoutDetectorReportsItNotLoaded) {
    setStaticInstance(wrapper);
    configureTrigger();
    const std::string text = kDetectorNotLoadedText;
    EXPECT_EQ(logLines(), (Lines{"Set TriggerMode failed:" + text, "", "Set TriggerThreshold failed:" + text,
                                 "", "Write params failed:" + text, ""}));
}

TEST_F(Wrapper, SoftwareStartNeedsTheStaticInstance) {
    auto detector = openDetector(3);
    wrapper->setDetector(detector);
    EXPECT_FALSE(startSoftwareAcquisition());
    EXPECT_EQ(sdk.calls("Invoke"), 0);
    setStaticInstance(wrapper);
    EXPECT_TRUE(startSoftwareAcquisition());
    EXPECT_EQ(sdk.lastInvoke().command, fpd::kCmdStartAcquisition);
    EXPECT_EQ(logLines(), Lines{"Press [Enter] to acquiring image"});
}

const Lines kDeinitIfDifferentLines{"destorying device wrapper deinitIfDifferent 1", "",
                                    "destorying device wrapper deinitIfDifferent 2", ""};

TEST_F(Wrapper, DeinitIfDifferentSparesTheStaticInstancesDetector) {
    // Empty argument: only the two lines.
    deinitIfDifferent(nullptr);
    EXPECT_EQ(logLines(), kDeinitIfDifferentLines);

    // The static instance itself: its detector is only let go by the wrapper.
    auto shared = openDetector(3);
    wrapper->setDetector(shared);
    setStaticInstance(wrapper);
    deinitIfDifferent(wrapper);
    EXPECT_EQ(wrapper->detector(), nullptr);
    EXPECT_EQ(sdk.calls("Destroy"), 0);
    EXPECT_TRUE(shared->loaded());

    // Another wrapper sharing the static instance's detector: the same.
    wrapper->setDetector(shared);
    auto other = std::make_shared<DeviceWrapper>(shared);
    deinitIfDifferent(other);
    EXPECT_EQ(other->detector(), nullptr);
    EXPECT_EQ(wrapper->detector(), shared);
    EXPECT_EQ(sdk.calls("Destroy"), 0);

    // A wrapper with a detector of its own: destroyed and freed.
    auto own = openDetector(5);
    other->setDetector(own);
    deinitIfDifferent(other);
    EXPECT_EQ(other->detector(), nullptr);
    EXPECT_EQ(sdk.lastDestroyed(), 5);
    EXPECT_FALSE(own->loaded());
    EXPECT_EQ(own->detectorId(), 0);
    EXPECT_EQ(wrapper->detector(), shared);
}

TEST_F(Wrapper, DeinitV2TearsDownBothDetectors) {
    const Lines v2Only{"destorying device wrapper DeinitV2 1", "", "destorying device wrapper DeinitV2 2",
                       ""};

    // Nothing open anywhere: only the two lines.
    DeinitV2(nullptr);
    setStaticInstance(wrapper);
    DeinitV2(nullptr);
    EXPECT_EQ(logLines(), (Lines{v2Only[0], v2Only[1], v2Only[2], v2Only[3], v2Only[0], v2Only[1], v2Only[2],
                                 v2Only[3]}));

    // The static instance's detector, without argument.
    appfiles::startLog();
    auto shared = openDetector(3);
    wrapper->setDetector(shared);
    DeinitV2(nullptr);
    EXPECT_EQ(wrapper->detector(), nullptr);
    EXPECT_EQ(sdk.lastDestroyed(), 3);
    EXPECT_FALSE(shared->loaded());
    Lines expected{v2Only[0], v2Only[1]};
    expected.insert(expected.end(), kDeinitIfDifferentLines.begin(), kDeinitIfDifferentLines.end());
    expected.insert(expected.end(), {v2Only[2], v2Only[3]});
    EXPECT_EQ(logLines(), expected);

    // A wrapper of its own and the static instance: both.
    auto own = openDetector(5);
    auto other = std::make_shared<DeviceWrapper>(own);
    wrapper->setDetector(openDetector(6));
    DeinitV2(other);
    EXPECT_EQ(other->detector(), nullptr);
    EXPECT_EQ(wrapper->detector(), nullptr);
    EXPECT_EQ(sdk.calls("Destroy"), 3);
    EXPECT_FALSE(own->loaded());
}

// The static instance handed to DeinitV2 itself: its detector is destroyed and freed here, on the
// caller's thread, even while another holder (the SDK's callback) still shares it.
TEST_F(Wrapper, DeinitV2OfTheStaticInstanceDestroysItsDetectorHere) {
    auto detector = openDetector(4);
    wrapper->setDetector(detector);
    setStaticInstance(wrapper);
    const auto heldByCallback = wrapper->detector();

    DeinitV2(wrapper);
    EXPECT_EQ(wrapper->detector(), nullptr);
    EXPECT_EQ(sdk.calls("Destroy"), 1);
    EXPECT_EQ(sdk.lastDestroyed(), 4);
    EXPECT_FALSE(heldByCallback->loaded());
    EXPECT_EQ(heldByCallback->detectorId(), 0);
}

} // namespace
