// A data source whose every operation records its name and answers a chosen result, for driving
// the routers and the entry through every row of the routing table.
#pragma once

#include "source/twpp/exceptions.h"
#include "source/twpp/source_from_this.h"

#include <string>
#include <vector>

class FakeSource : public Twpp::SourceFromThis<FakeSource> {
public:
    using Result = Twpp::Result;
    using Identity = Twpp::Identity;

    FakeSource() { all().push_back(this); }
    ~FakeSource() override { std::erase(all(), this); }

    static std::vector<FakeSource*>& all() {
        static std::vector<FakeSource*> instances;
        return instances;
    }

    void forceState(TW_UINT16 state) { setState(state); }
    Result notify(TW_UINT16 msg) { return notifyApplication(msg); }

    // What every operation answers, and what it leaves in TW_PENDINGXFERS.Count.
    static inline Result answer = Twpp::success();
    static inline TW_UINT16 pendingCount = 0;
    static inline TW_UINT32 transferGroup = DG_IMAGE;
    static inline bool throwBadAlloc = false;
    static inline bool throwTwpp = false;
    static inline bool groupFails = false;
    static inline TW_HANDLE observedAppHandle = nullptr;
    std::vector<std::string> calls;

protected:
    Result record(const char* name) {
        calls.emplace_back(name);
        observedAppHandle = Twpp::Memory::appOwnedHandle();
        if (throwBadAlloc) {
            throw std::bad_alloc();
        }
        if (throwTwpp) {
            throw Twpp::ItemTypeException();
        }
        return answer;
    }

#define FAKE_OP(name, ...)                                                                                   \
    Result name(__VA_ARGS__) override {                                                                      \
        return record(#name);                                                                                \
    }
    FAKE_OP(capabilityGet, const Identity&, TW_CAPABILITY&)
    FAKE_OP(capabilityGetCurrent, const Identity&, TW_CAPABILITY&)
    FAKE_OP(capabilityGetDefault, const Identity&, TW_CAPABILITY&)
    FAKE_OP(capabilityGetHelp, const Identity&, TW_CAPABILITY&)
    FAKE_OP(capabilityGetLabel, const Identity&, TW_CAPABILITY&)
    FAKE_OP(capabilityGetLabelEnum, const Identity&, TW_CAPABILITY&)
    FAKE_OP(capabilityQuerySupport, const Identity&, TW_CAPABILITY&)
    FAKE_OP(capabilityReset, const Identity&, TW_CAPABILITY&)
    FAKE_OP(capabilityResetAll, const Identity&)
    FAKE_OP(capabilitySet, const Identity&, TW_CAPABILITY&)
    FAKE_OP(capabilitySetConstraint, const Identity&, TW_CAPABILITY&)
    FAKE_OP(customDataGet, const Identity&, void*)
    FAKE_OP(customDataSet, const Identity&, void*)
    FAKE_OP(deviceEventGet, const Identity&, void*)
    FAKE_OP(eventProcess, const Identity&, TW_EVENT&)
    FAKE_OP(identityOpenDs, const Identity&)
    FAKE_OP(identityCloseDs, const Identity&)
    FAKE_OP(fileSystemAutomaticCaptureDirectory, const Identity&, void*)
    FAKE_OP(fileSystemChangeDirectory, const Identity&, void*)
    FAKE_OP(fileSystemCopy, const Identity&, void*)
    FAKE_OP(fileSystemCreateDirectory, const Identity&, void*)
    FAKE_OP(fileSystemDelete, const Identity&, void*)
    FAKE_OP(fileSystemFormatMedia, const Identity&, void*)
    FAKE_OP(fileSystemGetClose, const Identity&, void*)
    FAKE_OP(fileSystemGetFirstFile, const Identity&, void*)
    FAKE_OP(fileSystemGetInfo, const Identity&, void*)
    FAKE_OP(fileSystemGetNextFile, const Identity&, void*)
    FAKE_OP(fileSystemRename, const Identity&, void*)
    FAKE_OP(passThrough, const Identity&, void*)
    FAKE_OP(pendingXfersGet, const Identity&, TW_PENDINGXFERS&)
    FAKE_OP(pendingXfersStopFeeder, const Identity&, TW_PENDINGXFERS&)
    FAKE_OP(setupFileXferGet, const Identity&, void*)
    FAKE_OP(setupFileXferGetDefault, const Identity&, void*)
    FAKE_OP(setupFileXferSet, const Identity&, void*)
    FAKE_OP(setupFileXferReset, const Identity&, void*)
    FAKE_OP(setupMemXferGet, const Identity&, TW_SETUPMEMXFER&)
    FAKE_OP(statusUtf8Get, const Identity&, void*)
    FAKE_OP(userInterfaceDisable, const Identity&, TW_USERINTERFACE&)
    FAKE_OP(userInterfaceEnable, const Identity&, TW_USERINTERFACE&)
    FAKE_OP(userInterfaceEnableUiOnly, const Identity&, TW_USERINTERFACE&)
    FAKE_OP(xferGroupSet, const Identity&, TW_UINT32&)
    FAKE_OP(extImageInfoGet, const Identity&, void*)
    FAKE_OP(grayResponseSet, const Identity&, void*)
    FAKE_OP(grayResponseReset, const Identity&, void*)
    FAKE_OP(iccProfileGet, const Identity&, void*)
    FAKE_OP(imageFileXferGet, const Identity&)
    FAKE_OP(imageInfoGet, const Identity&, TW_IMAGEINFO&)
    FAKE_OP(imageLayoutGet, const Identity&, TW_IMAGELAYOUT&)
    FAKE_OP(imageLayoutGetDefault, const Identity&, TW_IMAGELAYOUT&)
    FAKE_OP(imageLayoutSet, const Identity&, TW_IMAGELAYOUT&)
    FAKE_OP(imageLayoutReset, const Identity&, TW_IMAGELAYOUT&)
    FAKE_OP(imageMemFileXferGet, const Identity&, void*)
    FAKE_OP(imageMemXferGet, const Identity&, TW_IMAGEMEMXFER&)
    FAKE_OP(imageNativeXferGet, const Identity&, TW_HANDLE&)
    FAKE_OP(jpegCompressionGet, const Identity&, void*)
    FAKE_OP(jpegCompressionGetDefault, const Identity&, void*)
    FAKE_OP(jpegCompressionSet, const Identity&, void*)
    FAKE_OP(jpegCompressionReset, const Identity&, void*)
    FAKE_OP(palette8Get, const Identity&, void*)
    FAKE_OP(palette8GetDefault, const Identity&, void*)
    FAKE_OP(palette8Set, const Identity&, void*)
    FAKE_OP(palette8Reset, const Identity&, void*)
    FAKE_OP(rgbResponseSet, const Identity&, void*)
    FAKE_OP(rgbResponseReset, const Identity&, void*)
    FAKE_OP(audioFileXferGet, const Identity&)
    FAKE_OP(audioInfoGet, const Identity&, void*)
    FAKE_OP(audioNativeXferGet, const Identity&, void*)
#undef FAKE_OP

    Result pendingXfersEnd(const Identity&, TW_PENDINGXFERS& data) override {
        data.Count = pendingCount;
        return record("pendingXfersEnd");
    }
    Result pendingXfersReset(const Identity&, TW_PENDINGXFERS& data) override {
        data.Count = 0;
        return record("pendingXfersReset");
    }
    Result xferGroupGet(const Identity&, TW_UINT32& data) override {
        data = transferGroup;
        calls.emplace_back("xferGroupGet");
        return groupFails ? Twpp::bummer() : Twpp::success();
    }
};
