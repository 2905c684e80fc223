// The SDK binding against a scriptable SDK: loading, the calls on an unloaded binding, attribute
// reads and writes, instance lifetime, and awaited commands.
#include "device/detector.h"
#include "tests/common/test_env.h"
#include "tests/device/fake_sdk.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>

namespace {

namespace fs = std::filesystem;

// The detector the fake's callback reports to.
std::atomic<CDetector*> reporting{nullptr};

void FPD_CALL forwardEvent(std::int32_t id, std::int32_t event, std::int32_t level, const char* message,
                           std::int32_t param1, std::int32_t param2, std::int32_t length, void* data) {
    if (CDetector* detector = reporting.load()) {
        detector->processEvent(id, event, level, message, param1, param2, length, data);
    }
}

class Detector : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sdk.loaded());
        detector = std::make_unique<CDetector>();
        reporting = detector.get();
        ASSERT_EQ(detector->create("/work/SN1", forwardEvent), 0);
    }
    void TearDown() override {
        sdk.join();
        reporting = nullptr;
    }
    fakesdk::FakeSdk sdk{FAKE_SDK_FOLDER};
    std::unique_ptr<CDetector> detector;
};

TEST(DetectorLoading, MissingLibraryOrEntryPointGives9AndStaysUnloaded) {
    const fs::path empty = testenv::tempRoot() / "no-sdk";
    fs::create_directories(empty);
    for (const fs::path& folder : {empty, fs::path(BROKEN_SDK_FOLDER)}) {
        platform::setDriverFolder(folder);
        ASSERT_TRUE(platform::addDriverFolderToSearchPath());
        CDetector detector;
        std::string error;
        EXPECT_EQ(detector.loadLibrary(&error), kDeviceLibraryMissing) << folder;
        // The loader's own reason (the system's text for a missing library, the missing entry
        // point's name for a broken one), not a number it never set.
        EXPECT_FALSE(error.empty());
        if (folder != empty) {
            EXPECT_NE(error.find("GetProdList"), std::string::npos) << error;
        }
        EXPECT_FALSE(detector.loaded());
        EXPECT_EQ(detector.create("/work/SN1", nullptr), kDeviceLibraryMissing) << folder;
        EXPECT_EQ(detector.detectorId(), 0);
    }
}

TEST(DetectorLoading, LoadsTheLibraryFromTheDriverFolder) {
    fakesdk::FakeSdk sdk(FAKE_SDK_FOLDER);
    CDetector detector;
    EXPECT_FALSE(detector.loaded());
    EXPECT_EQ(detector.loadLibrary(), 0);
    EXPECT_TRUE(detector.loaded());
    EXPECT_EQ(detector.loadLibrary(), 0);
    detector.freeLibrary();
    EXPECT_FALSE(detector.loaded());
    EXPECT_EQ(detector.invoke(2), kDeviceNotLoaded);
}

TEST(DetectorLoading, UnloadedBindingAnswersWithoutCallingTheSdk) {
    CDetector detector;
    AttributeBuffer buffer;
    buffer.fill('\x55');
    EXPECT_EQ(detector.getAttr(fpd::kAttrImageWidth, buffer), kDeviceNotLoaded);
    EXPECT_EQ(buffer, AttributeBuffer{});
    EXPECT_EQ(detector.getAttrInt(fpd::kAttrImageWidth), 0);
    EXPECT_EQ(detector.getAttrText(fpd::kAttrSerialNumber), "");
    EXPECT_EQ(detector.setAttrInt(fpd::kAttrTriggerModeSetting, 6), kDeviceNotLoaded);
    EXPECT_EQ(detector.invoke(fpd::kCmdStartAcquisition), kDeviceNotLoaded);
    EXPECT_EQ(detector.invokeAndWait(fpd::kCmdConnect, 10), kDeviceNotLoaded);
    EXPECT_EQ(detector.invokeAndWaitInt(fpd::kCmdCorrection, fpd::kCorrectionMode, 10), kDeviceNotLoaded);
    EXPECT_EQ(detector.errorText(108), kDetectorNotLoadedText);
    EXPECT_EQ(detector.destroy(), 0);
    detector.freeLibrary();
}

TEST_F(Detector, CreatePassesTheFolderAndKeepsTheId) {
    EXPECT_EQ(sdk.lastFolder(), "/work/SN1");
    EXPECT_EQ(detector->detectorId(), 7);
    EXPECT_EQ(sdk.callback(), &forwardEvent);
}

TEST_F(Detector, FailedCreateLeavesNoInstance) {
    EXPECT_EQ(detector->destroy(), 0);
    sdk.setCreateResult(106, 0);
    EXPECT_EQ(detector->create("/missing", forwardEvent), 106);
    EXPECT_EQ(detector->detectorId(), 0);
    detector->destroy();
    EXPECT_EQ(sdk.calls("Destroy"), 1);
}

TEST_F(Detector, InstanceIsDestroyedOnceWhateverEndsIt) {
    EXPECT_EQ(detector->destroy(), 0);
    EXPECT_EQ(sdk.lastDestroyed(), 7);
    EXPECT_EQ(detector->detectorId(), 0);
    EXPECT_EQ(detector->destroy(), 0);
    EXPECT_EQ(sdk.calls("Destroy"), 1);

    // A second create replaces the open instance instead of orphaning it.
    ASSERT_EQ(detector->create("/work/A", forwardEvent), 0);
    ASSERT_EQ(detector->create("/work/B", forwardEvent), 0);
    EXPECT_EQ(sdk.calls("Destroy"), 2);
    EXPECT_EQ(sdk.lastDestroyed(), 8);

    // Freeing the library, or the binding's end, destroys what is still open.
    detector->freeLibrary();
    EXPECT_EQ(sdk.calls("Destroy"), 3);
    EXPECT_EQ(sdk.lastDestroyed(), 9);
    ASSERT_EQ(detector->create("/work/C", forwardEvent), 0);
    reporting = nullptr;
    detector.reset();
    EXPECT_EQ(sdk.calls("Destroy"), 4);
    EXPECT_EQ(sdk.lastDestroyed(), 10);
}

TEST_F(Detector, AttributeReadsFollowTheValueType) {
    const std::string longText(600, 'S');
    sdk.setAttribute(fpd::kAttrImageWidth, 0, fpd::kTypeInt, 1300, 0.0f, nullptr);
    sdk.setAttribute(42, 0, fpd::kTypeFloat, 0, 2.5f, nullptr);
    sdk.setAttribute(fpd::kAttrSerialNumber, 0, fpd::kTypeText, 0, 0.0f, "SN-1234");
    sdk.setAttribute(43, 0, fpd::kTypeText, 0, 0.0f, longText.c_str());
    sdk.setAttribute(44, 109, fpd::kTypeInt, 77, 0.0f, "junk");

    AttributeBuffer buffer;
    EXPECT_EQ(detector->getAttr(fpd::kAttrImageWidth, buffer), 0);
    EXPECT_EQ(attributeInt(buffer), 1300);
    EXPECT_EQ(detector->getAttr(42, buffer), 0);
    EXPECT_FLOAT_EQ(attributeFloat(buffer), 2.5f);
    EXPECT_EQ(detector->getAttrText(fpd::kAttrSerialNumber), "SN-1234");
    EXPECT_EQ(detector->getAttrText(43), std::string(512, 'S'));

    // A failed read leaves zeros, not what the SDK wrote.
    for (int attribute : {44, 999}) {
        buffer.fill('\x55');
        EXPECT_NE(detector->getAttr(attribute, buffer), 0);
        EXPECT_EQ(buffer, AttributeBuffer{}) << attribute;
    }
    EXPECT_EQ(detector->getAttrInt(44), 0);
}

TEST_F(Detector, IntegerWritesAndErrorTexts) {
    sdk.setSetAttrResult(104);
    EXPECT_EQ(detector->setAttrInt(fpd::kAttrTriggerModeSetting, 6), 104);
    const auto [attribute, value] = sdk.lastSet();
    EXPECT_EQ(attribute, fpd::kAttrTriggerModeSetting);
    EXPECT_EQ(value.type, fpd::kTypeInt);
    EXPECT_EQ(value.intValue, 6);
    EXPECT_EQ(detector->errorText(104), "fake error 104");
}

TEST_F(Detector, AwaitedCommandResults) {
    struct Case {
        const char* what;
        std::int32_t invokeResult;
        std::vector<std::array<std::int32_t, 4>> events; // event, param1, param2, delay ms
        int timeoutMs;
        int expected;
    };
    const std::vector<Case> cases = {
        {"immediate success", 0, {{4, 2, 0, 0}}, 5000, 0},
        {"immediate failure", 7, {}, 5000, 7},
        {"finished", 1, {{4, 2, 0, 20}}, 5000, 0},
        {"failed", 1, {{5, 2, 123, 20}}, 5000, 123},
        {"no end", 1, {}, 50, kDeviceTimedOut},
        {"another command only", 1, {{4, 2031, 0, 5}}, 150, kDeviceTimedOut},
        {"other result overwritten", 1, {{5, 2031, 77, 5}, {4, 2, 0, 60}}, 5000, 0},
        {"own failure after other success", 1, {{4, 2031, 0, 5}, {5, 2, 9, 60}}, 5000, 9},
        {"other events ignored", 1, {{7, 2, 0, 5}, {1001, 2, 0, 5}}, 150, kDeviceTimedOut},
    };
    for (const auto& c : cases) {
        sdk.reset();
        sdk.setInvokeResult(c.invokeResult);
        for (const auto& e : c.events) {
            sdk.onInvoke(e[0], e[1], e[2], e[3]);
        }
        EXPECT_EQ(detector->invokeAndWait(fpd::kCmdConnect, c.timeoutMs), c.expected) << c.what;
    }
}

TEST_F(Detector, AwaitedCommandWithAValueParameter) {
    sdk.onInvoke(4, fpd::kCmdCorrection, 0, 10);
    EXPECT_EQ(detector->invokeAndWaitInt(fpd::kCmdCorrection, fpd::kCorrectionMode, 5000), 0);
    const auto call = sdk.lastInvoke();
    EXPECT_EQ(call.command, fpd::kCmdCorrection);
    EXPECT_EQ(call.paramCount, 1);
    EXPECT_EQ(call.param.kind, fpd::kParamValue);
    EXPECT_EQ(call.param.value.type, fpd::kTypeInt);
    EXPECT_EQ(call.param.value.intValue, 0x160000);
}

TEST_F(Detector, InvokeReturnsAtOnceWithTheSdkResult) {
    sdk.setInvokeResult(1);
    EXPECT_EQ(detector->invoke(fpd::kCmdStartAcquisition), 1);
    const auto call = sdk.lastInvoke();
    EXPECT_EQ(call.command, fpd::kCmdStartAcquisition);
    EXPECT_EQ(call.paramCount, 0);
}

// A completion that arrives before a command is awaited does not end the next wait.
TEST_F(Detector, StaleCompletionDoesNotEndTheNextWait) {
    detector->processEvent(7, fpd::kEvtCommandFinished, 0, "", -1, 0, 0, nullptr);
    detector->processEvent(7, fpd::kEvtCommandFinished, 0, "", fpd::kCmdConnect, 0, 0, nullptr);
    sdk.setInvokeResult(1);
    EXPECT_EQ(detector->invokeAndWait(fpd::kCmdConnect, 50), kDeviceTimedOut);
}

// Only the end of the awaited command of this instance is its result: not the end of another command
// (a late one of an earlier run) arriving just after it, nor the end of another instance's command.
TEST_F(Detector, EndsOfOtherCommandsOrInstancesAreNotTheAwaitedResult) {
    const std::int32_t id = detector->detectorId();
    const auto awaitWhile = [&](const std::function<void()>& events) {
        sdk.reset();
        sdk.setInvokeResult(1);
        auto waiting =
            std::async(std::launch::async, [&] { return detector->invokeAndWait(fpd::kCmdConnect, 3000); });
        while (sdk.calls("Invoke") == 0) {
            std::this_thread::yield();
        }
        events();
        return waiting.get();
    };
    const auto event = [&](std::int32_t from, std::int32_t type, std::int32_t command, std::int32_t code) {
        detector->processEvent(from, type, 0, "", command, code, 0, nullptr);
    };
    EXPECT_EQ(awaitWhile([&] {
                  event(id, fpd::kEvtCommandFinished, fpd::kCmdConnect, 0);
                  event(id, fpd::kEvtCommandFailed, fpd::kCmdWriteParams, 77);
              }),
              0);
    EXPECT_EQ(awaitWhile([&] {
                  event(id, fpd::kEvtCommandFailed, fpd::kCmdConnect, 9);
                  event(id, fpd::kEvtCommandFinished, fpd::kCmdWriteParams, 0);
              }),
              9);
    EXPECT_EQ(awaitWhile([&] {
                  event(id + 1, fpd::kEvtCommandFailed, fpd::kCmdConnect, 5);
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
                  event(id, fpd::kEvtCommandFinished, fpd::kCmdConnect, 0);
              }),
              0);
}

} // namespace
