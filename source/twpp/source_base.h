// The routing base of a data source: one router per data argument type that checks the message
// and the TWAIN state (3 to 7) and calls a virtual operation. Every operation answers
// TWCC_BADPROTOCOL unless a derived source supplies it.
#pragma once

#include "source/twpp/result.h"
#include "source/twpp/twain.h"

#include <initializer_list>

namespace Twpp {

class SourceBase {
public:
    SourceBase();
    virtual ~SourceBase();
    SourceBase(const SourceBase&) = delete;
    SourceBase& operator=(const SourceBase&) = delete;

    // The DG router: every triplet of an instance call passes here.
    Result call(const Identity& origin, TW_UINT32 dg, TW_UINT16 dat, Msg msg, void* data);

    const Identity& sourceIdentity() const { return sourceIdentity_; }
    const Identity& appIdentity() const { return appIdentity_; }
    const Status& lastStatus() const { return lastStatus_; }
    TW_UINT16 state() const { return state_; }
    void setLastStatus(TW_UINT16 conditionCode) { lastStatus_ = Status{conditionCode, 0}; }

protected:
    // Moves the TWAIN state; used by the source itself while it posts notifications.
    void setState(TW_UINT16 state) { state_ = state; }
    // True when some instance of this source type is in state 5, 6 or 7.
    virtual bool anyInstanceEnabled() const = 0;
    // True while the source, in state 6, has not yet told this caller that images are ready.
    virtual bool transferNoticeUnderway() const { return false; }
    // Posts a DG_CONTROL / DAT_NULL notification (MSG_XFERREADY, MSG_CLOSEDSREQ) to the application.
    Result notifyApplication(Msg msg);

    Result control(const Identity& origin, TW_UINT16 dat, Msg msg, void* data);

    // Capability.
    Result capability(const Identity& origin, Msg msg, TW_CAPABILITY& data);
    virtual Result capabilityGet(const Identity& origin, TW_CAPABILITY& data);
    virtual Result capabilityGetCurrent(const Identity& origin, TW_CAPABILITY& data);
    virtual Result capabilityGetDefault(const Identity& origin, TW_CAPABILITY& data);
    virtual Result capabilityGetHelp(const Identity& origin, TW_CAPABILITY& data);
    virtual Result capabilityGetLabel(const Identity& origin, TW_CAPABILITY& data);
    virtual Result capabilityGetLabelEnum(const Identity& origin, TW_CAPABILITY& data);
    virtual Result capabilityQuerySupport(const Identity& origin, TW_CAPABILITY& data);
    virtual Result capabilityReset(const Identity& origin, TW_CAPABILITY& data);
    virtual Result capabilityResetAll(const Identity& origin);
    virtual Result capabilitySet(const Identity& origin, TW_CAPABILITY& data);
    virtual Result capabilitySetConstraint(const Identity& origin, TW_CAPABILITY& data);

    // Custom data, device event, event.
    Result customData(const Identity& origin, Msg msg, void* data);
    virtual Result customDataGet(const Identity& origin, void* data);
    virtual Result customDataSet(const Identity& origin, void* data);
    Result deviceEvent(const Identity& origin, Msg msg, void* data);
    virtual Result deviceEventGet(const Identity& origin, void* data);
    Result event(const Identity& origin, Msg msg, TW_EVENT& data);
    virtual Result eventProcess(const Identity& origin, TW_EVENT& data);

    // Identity.
    Result identity(const Identity& origin, Msg msg, Identity& data);
    virtual Result identityOpenDs(const Identity& origin);
    virtual Result identityCloseDs(const Identity& origin);

    // File system.
    Result fileSystem(const Identity& origin, Msg msg, void* data);
    virtual Result fileSystemAutomaticCaptureDirectory(const Identity& origin, void* data);
    virtual Result fileSystemChangeDirectory(const Identity& origin, void* data);
    virtual Result fileSystemCopy(const Identity& origin, void* data);
    virtual Result fileSystemCreateDirectory(const Identity& origin, void* data);
    virtual Result fileSystemDelete(const Identity& origin, void* data);
    virtual Result fileSystemFormatMedia(const Identity& origin, void* data);
    virtual Result fileSystemGetClose(const Identity& origin, void* data);
    virtual Result fileSystemGetFirstFile(const Identity& origin, void* data);
    virtual Result fileSystemGetInfo(const Identity& origin, void* data);
    virtual Result fileSystemGetNextFile(const Identity& origin, void* data);
    virtual Result fileSystemRename(const Identity& origin, void* data);

    // Pass-through, pending transfers.
    Result passThru(const Identity& origin, Msg msg, void* data);
    virtual Result passThrough(const Identity& origin, void* data);
    Result pendingXfers(const Identity& origin, Msg msg, TW_PENDINGXFERS& data);
    virtual Result pendingXfersGet(const Identity& origin, TW_PENDINGXFERS& data);
    virtual Result pendingXfersEnd(const Identity& origin, TW_PENDINGXFERS& data);
    virtual Result pendingXfersReset(const Identity& origin, TW_PENDINGXFERS& data);
    virtual Result pendingXfersStopFeeder(const Identity& origin, TW_PENDINGXFERS& data);

    // Setup of file and memory transfers.
    Result setupFileXfer(const Identity& origin, Msg msg, void* data);
    virtual Result setupFileXferGet(const Identity& origin, void* data);
    virtual Result setupFileXferGetDefault(const Identity& origin, void* data);
    virtual Result setupFileXferSet(const Identity& origin, void* data);
    virtual Result setupFileXferReset(const Identity& origin, void* data);
    Result setupMemXfer(const Identity& origin, Msg msg, TW_SETUPMEMXFER& data);
    virtual Result setupMemXferGet(const Identity& origin, TW_SETUPMEMXFER& data);

    // Status, user interface, transfer group.
    Result status(const Identity& origin, Msg msg, TW_STATUS& data);
    virtual Result statusGet(const Identity& origin, TW_STATUS& data);
    Result statusUtf8(const Identity& origin, Msg msg, void* data);
    virtual Result statusUtf8Get(const Identity& origin, void* data);
    Result userInterface(const Identity& origin, Msg msg, TW_USERINTERFACE& data);
    virtual Result userInterfaceDisable(const Identity& origin, TW_USERINTERFACE& data);
    virtual Result userInterfaceEnable(const Identity& origin, TW_USERINTERFACE& data);
    virtual Result userInterfaceEnableUiOnly(const Identity& origin, TW_USERINTERFACE& data);
    Result xferGroup(const Identity& origin, Msg msg, TW_UINT32& data);
    virtual Result xferGroupGet(const Identity& origin, TW_UINT32& data);
    virtual Result xferGroupSet(const Identity& origin, TW_UINT32& data);

    // DG_IMAGE.
    Result image(const Identity& origin, TW_UINT16 dat, Msg msg, void* data);
    Result extImageInfo(const Identity& origin, Msg msg, void* data);
    virtual Result extImageInfoGet(const Identity& origin, void* data);
    Result grayResponse(const Identity& origin, Msg msg, void* data);
    virtual Result grayResponseSet(const Identity& origin, void* data);
    virtual Result grayResponseReset(const Identity& origin, void* data);
    Result iccProfile(const Identity& origin, Msg msg, void* data);
    virtual Result iccProfileGet(const Identity& origin, void* data);
    Result imageFileXfer(const Identity& origin, Msg msg);
    virtual Result imageFileXferGet(const Identity& origin);
    Result imageInfo(const Identity& origin, Msg msg, TW_IMAGEINFO& data);
    virtual Result imageInfoGet(const Identity& origin, TW_IMAGEINFO& data);
    Result imageLayout(const Identity& origin, Msg msg, TW_IMAGELAYOUT& data);
    virtual Result imageLayoutGet(const Identity& origin, TW_IMAGELAYOUT& data);
    virtual Result imageLayoutGetDefault(const Identity& origin, TW_IMAGELAYOUT& data);
    virtual Result imageLayoutSet(const Identity& origin, TW_IMAGELAYOUT& data);
    virtual Result imageLayoutReset(const Identity& origin, TW_IMAGELAYOUT& data);
    Result imageMemFileXfer(const Identity& origin, Msg msg, void* data);
    virtual Result imageMemFileXferGet(const Identity& origin, void* data);
    Result imageMemXfer(const Identity& origin, Msg msg, TW_IMAGEMEMXFER& data);
    virtual Result imageMemXferGet(const Identity& origin, TW_IMAGEMEMXFER& data);
    Result imageNativeXfer(const Identity& origin, Msg msg, TW_HANDLE& data);
    virtual Result imageNativeXferGet(const Identity& origin, TW_HANDLE& data);
    Result jpegCompression(const Identity& origin, Msg msg, void* data);
    virtual Result jpegCompressionGet(const Identity& origin, void* data);
    virtual Result jpegCompressionGetDefault(const Identity& origin, void* data);
    virtual Result jpegCompressionSet(const Identity& origin, void* data);
    virtual Result jpegCompressionReset(const Identity& origin, void* data);
    Result palette8(const Identity& origin, Msg msg, void* data);
    virtual Result palette8Get(const Identity& origin, void* data);
    virtual Result palette8GetDefault(const Identity& origin, void* data);
    virtual Result palette8Set(const Identity& origin, void* data);
    virtual Result palette8Reset(const Identity& origin, void* data);
    Result rgbResponse(const Identity& origin, Msg msg, void* data);
    virtual Result rgbResponseSet(const Identity& origin, void* data);
    virtual Result rgbResponseReset(const Identity& origin, void* data);

    // DG_AUDIO.
    Result audio(const Identity& origin, TW_UINT16 dat, Msg msg, void* data);
    Result audioFileXfer(const Identity& origin, Msg msg);
    virtual Result audioFileXferGet(const Identity& origin);
    Result audioInfo(const Identity& origin, Msg msg, void* data);
    virtual Result audioInfoGet(const Identity& origin, void* data);
    Result audioNativeXfer(const Identity& origin, Msg msg, void* data);
    virtual Result audioNativeXferGet(const Identity& origin, void* data);

private:
    bool inState(std::initializer_list<TW_UINT16> states) const;
    // A router that knows only MSG_GET, allowed in `states`.
    template <typename Operation>
    Result getIn(Msg msg, std::initializer_list<TW_UINT16> states, Operation operation);
    // The same for a transfer, which moves to state 7 when the operation answers `done`.
    template <typename Operation>
    Result transfer(Msg msg, std::initializer_list<TW_UINT16> states, TW_UINT16 done, Operation operation);

    Identity sourceIdentity_{};
    Identity appIdentity_{};
    Status lastStatus_{TWCC_BUMMER, 0};
    TW_UINT16 state_ = 3;
};

} // namespace Twpp
