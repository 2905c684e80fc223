// What the operations of the routing base answer when a derived source does not supply them.
#include "source/twpp/source_base.h"

namespace Twpp {

// Operations with behaviour of their own.
Result SourceBase::statusGet(const Identity&, TW_STATUS& data) {
    data = lastStatus_;
    return success();
}

Result SourceBase::xferGroupGet(const Identity&, TW_UINT32& data) {
    data = DG_IMAGE;
    return success();
}

// Every other operation: not supported by this source.
#define TWPP_UNSUPPORTED(name, ...)                                                                          \
    Result SourceBase::name(__VA_ARGS__) {                                                                   \
        return badProtocol();                                                                                \
    }

TWPP_UNSUPPORTED(capabilityGet, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(capabilityGetCurrent, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(capabilityGetDefault, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(capabilityGetHelp, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(capabilityGetLabel, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(capabilityGetLabelEnum, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(capabilityQuerySupport, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(capabilityReset, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(capabilityResetAll, const Identity&)
TWPP_UNSUPPORTED(capabilitySet, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(capabilitySetConstraint, const Identity&, TW_CAPABILITY&)
TWPP_UNSUPPORTED(customDataGet, const Identity&, void*)
TWPP_UNSUPPORTED(customDataSet, const Identity&, void*)
TWPP_UNSUPPORTED(deviceEventGet, const Identity&, void*)
TWPP_UNSUPPORTED(eventProcess, const Identity&, TW_EVENT&)
TWPP_UNSUPPORTED(identityOpenDs, const Identity&)
TWPP_UNSUPPORTED(identityCloseDs, const Identity&)
TWPP_UNSUPPORTED(fileSystemAutomaticCaptureDirectory, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemChangeDirectory, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemCopy, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemCreateDirectory, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemDelete, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemFormatMedia, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemGetClose, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemGetFirstFile, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemGetInfo, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemGetNextFile, const Identity&, void*)
TWPP_UNSUPPORTED(fileSystemRename, const Identity&, void*)
TWPP_UNSUPPORTED(passThrough, const Identity&, void*)
TWPP_UNSUPPORTED(pendingXfersGet, const Identity&, TW_PENDINGXFERS&)
TWPP_UNSUPPORTED(pendingXfersEnd, const Identity&, TW_PENDINGXFERS&)
TWPP_UNSUPPORTED(pendingXfersReset, const Identity&, TW_PENDINGXFERS&)
TWPP_UNSUPPORTED(pendingXfersStopFeeder, const Identity&, TW_PENDINGXFERS&)
TWPP_UNSUPPORTED(setupFileXferGet, const Identity&, void*)
TWPP_UNSUPPORTED(setupFileXferGetDefault, const Identity&, void*)
TWPP_UNSUPPORTED(setupFileXferSet, const Identity&, void*)
TWPP_UNSUPPORTED(setupFileXferReset, const Identity&, void*)
TWPP_UNSUPPORTED(setupMemXferGet, const Identity&, TW_SETUPMEMXFER&)
TWPP_UNSUPPORTED(statusUtf8Get, const Identity&, void*)
TWPP_UNSUPPORTED(userInterfaceDisable, const Identity&, TW_USERINTERFACE&)
TWPP_UNSUPPORTED(userInterfaceEnable, const Identity&, TW_USERINTERFACE&)
TWPP_UNSUPPORTED(userInterfaceEnableUiOnly, const Identity&, TW_USERINTERFACE&)
TWPP_UNSUPPORTED(xferGroupSet, const Identity&, TW_UINT32&)
TWPP_UNSUPPORTED(extImageInfoGet, const Identity&, void*)
TWPP_UNSUPPORTED(grayResponseSet, const Identity&, void*)
TWPP_UNSUPPORTED(grayResponseReset, const Identity&, void*)
TWPP_UNSUPPORTED(iccProfileGet, const Identity&, void*)
TWPP_UNSUPPORTED(imageFileXferGet, const Identity&)
TWPP_UNSUPPORTED(imageInfoGet, const Identity&, TW_IMAGEINFO&)
TWPP_UNSUPPORTED(imageLayoutGet, const Identity&, TW_IMAGELAYOUT&)
TWPP_UNSUPPORTED(imageLayoutGetDefault, const Identity&, TW_IMAGELAYOUT&)
TWPP_UNSUPPORTED(imageLayoutSet, const Identity&, TW_IMAGELAYOUT&)
TWPP_UNSUPPORTED(imageLayoutReset, const Identity&, TW_IMAGELAYOUT&)
TWPP_UNSUPPORTED(imageMemFileXferGet, const Identity&, void*)
TWPP_UNSUPPORTED(imageMemXferGet, const Identity&, TW_IMAGEMEMXFER&)
TWPP_UNSUPPORTED(imageNativeXferGet, const Identity&, TW_HANDLE&)
TWPP_UNSUPPORTED(jpegCompressionGet, const Identity&, void*)
TWPP_UNSUPPORTED(jpegCompressionGetDefault, const Identity&, void*)
TWPP_UNSUPPORTED(jpegCompressionSet, const Identity&, void*)
TWPP_UNSUPPORTED(jpegCompressionReset, const Identity&, void*)
TWPP_UNSUPPORTED(palette8Get, const Identity&, void*)
TWPP_UNSUPPORTED(palette8GetDefault, const Identity&, void*)
TWPP_UNSUPPORTED(palette8Set, const Identity&, void*)
TWPP_UNSUPPORTED(palette8Reset, const Identity&, void*)
TWPP_UNSUPPORTED(rgbResponseSet, const Identity&, void*)
TWPP_UNSUPPORTED(rgbResponseReset, const Identity&, void*)
TWPP_UNSUPPORTED(audioFileXferGet, const Identity&)
TWPP_UNSUPPORTED(audioInfoGet, const Identity&, void*)
TWPP_UNSUPPORTED(audioNativeXferGet, const Identity&, void*)

#undef TWPP_UNSUPPORTED

} // namespace Twpp
