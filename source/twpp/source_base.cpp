#include "source/twpp/source_base.h"

#include "source/twpp/registry.h"

#include <algorithm>
#include <cstring>

namespace Twpp {

SourceBase::SourceBase() = default;
SourceBase::~SourceBase() = default;

bool SourceBase::inState(std::initializer_list<TW_UINT16> states) const {
    return std::find(states.begin(), states.end(), state_) != states.end();
}

template <typename Operation>
Result SourceBase::getIn(Msg msg, std::initializer_list<TW_UINT16> states, Operation operation) {
    if (msg != MSG_GET) {
        return badProtocol();
    }
    return inState(states) ? operation() : seqError();
}

template <typename Operation>
Result SourceBase::transfer(Msg msg, std::initializer_list<TW_UINT16> states, TW_UINT16 done,
                            Operation operation) {
    const Result result = getIn(msg, states, operation);
    if (msg == MSG_GET && result.returnCode == done) {
        state_ = 7;
    }
    return result;
}

Result SourceBase::notifyApplication(Msg msg) {
    DSMENTRYPROC entry = Registry::dsmEntry();
    if (entry == nullptr) {
        return bummer();
    }
    const TW_UINT16 rc = entry(&sourceIdentity_, &appIdentity_, DG_CONTROL, DAT_NULL, msg, nullptr);
    return rc == TWRC_SUCCESS ? success() : Result(rc, TWCC_BUMMER);
}

Result SourceBase::call(const Identity& origin, TW_UINT32 dg, TW_UINT16 dat, Msg msg, void* data) {
    switch (dg) {
    case DG_CONTROL:
        return control(origin, dat, msg, data);
    case DG_IMAGE:
        return image(origin, dat, msg, data);
    case DG_AUDIO:
        return audio(origin, dat, msg, data);
    default:
        return badProtocol();
    }
}

Result SourceBase::control(const Identity& origin, TW_UINT16 dat, Msg msg, void* data) {
    if (data == nullptr) {
        return badValue();
    }
    switch (dat) {
    case DAT_CAPABILITY:
        return capability(origin, msg, *static_cast<TW_CAPABILITY*>(data));
    case DAT_CUSTOMDSDATA:
        return customData(origin, msg, data);
    case DAT_DEVICEEVENT:
        return deviceEvent(origin, msg, data);
    case DAT_EVENT:
        return event(origin, msg, *static_cast<TW_EVENT*>(data));
    case DAT_IDENTITY:
        return identity(origin, msg, *static_cast<Identity*>(data));
    case DAT_FILESYSTEM:
        return fileSystem(origin, msg, data);
    case DAT_PASSTHRU:
        return passThru(origin, msg, data);
    case DAT_PENDINGXFERS:
        return pendingXfers(origin, msg, *static_cast<TW_PENDINGXFERS*>(data));
    case DAT_SETUPFILEXFER:
        return setupFileXfer(origin, msg, data);
    case DAT_SETUPMEMXFER:
        return setupMemXfer(origin, msg, *static_cast<TW_SETUPMEMXFER*>(data));
    case DAT_STATUS:
        return status(origin, msg, *static_cast<TW_STATUS*>(data));
    case DAT_STATUSUTF8:
        return statusUtf8(origin, msg, data);
    case DAT_USERINTERFACE:
        return userInterface(origin, msg, *static_cast<TW_USERINTERFACE*>(data));
    case DAT_XFERGROUP:
        return xferGroup(origin, msg, *static_cast<TW_UINT32*>(data));
    default:
        return badProtocol();
    }
}

Result SourceBase::capability(const Identity& origin, Msg msg, TW_CAPABILITY& data) {
    switch (msg) {
    case MSG_GET:
        return capabilityGet(origin, data);
    case MSG_GETCURRENT:
        return capabilityGetCurrent(origin, data);
    case MSG_GETDEFAULT:
        return capabilityGetDefault(origin, data);
    case MSG_QUERYSUPPORT:
        return capabilityQuerySupport(origin, data);
    case MSG_SET:
        if (!inState({4})) {
            return seqError();
        }
        return data.hContainer == nullptr ? badValue() : capabilitySet(origin, data);
    case MSG_SETCONSTRAINT:
        if (!inState({4})) {
            return seqError();
        }
        return data.hContainer == nullptr ? badValue() : capabilitySetConstraint(origin, data);
    case MSG_RESET:
    case MSG_RESETALL:
    case MSG_GETHELP:
    case MSG_GETLABEL:
    case MSG_GETLABELENUM:
        if (!inState({4})) {
            return seqError();
        }
        switch (msg) {
        case MSG_RESET:
            return capabilityReset(origin, data);
        case MSG_RESETALL:
            return capabilityResetAll(origin);
        case MSG_GETHELP:
            return capabilityGetHelp(origin, data);
        case MSG_GETLABEL:
            return capabilityGetLabel(origin, data);
        default:
            return capabilityGetLabelEnum(origin, data);
        }
    default:
        return badProtocol();
    }
}

Result SourceBase::customData(const Identity& origin, Msg msg, void* data) {
    if (!inState({4})) {
        return seqError();
    }
    switch (msg) {
    case MSG_GET:
        return customDataGet(origin, data);
    case MSG_SET:
        return customDataSet(origin, data);
    default:
        return badProtocol();
    }
}

Result SourceBase::deviceEvent(const Identity& origin, Msg msg, void* data) {
    return msg == MSG_GET ? deviceEventGet(origin, data) : badProtocol();
}

Result SourceBase::event(const Identity& origin, Msg msg, TW_EVENT& data) {
    if (msg != MSG_PROCESSEVENT) {
        return badProtocol();
    }
    return inState({5, 6, 7}) ? eventProcess(origin, data) : seqError();
}

Result SourceBase::identity(const Identity& origin, Msg msg, Identity& data) {
    switch (msg) {
    case MSG_OPENDS: {
        if (!inState({3})) {
            return seqError();
        }
        std::memcpy(&sourceIdentity_, &data, sizeof(Identity));
        std::memcpy(&appIdentity_, &origin, sizeof(Identity));
        const Result result = identityOpenDs(origin);
        if (result.succeeded()) {
            state_ = 4;
        }
        return result;
    }
    case MSG_CLOSEDS: {
        if (!inState({4})) {
            return seqError();
        }
        const Result result = identityCloseDs(origin);
        if (result.succeeded()) {
            state_ = 3;
        }
        return result;
    }
    case MSG_GET:
        std::memcpy(&data, &sourceIdentity_, sizeof(Identity));
        return success();
    default:
        return badProtocol();
    }
}

Result SourceBase::fileSystem(const Identity& origin, Msg msg, void* data) {
    switch (msg) {
    case MSG_GETINFO:
        return fileSystemGetInfo(origin, data);
    case MSG_GETCLOSE:
    case MSG_GETFIRSTFILE:
    case MSG_GETNEXTFILE:
        if (!inState({4, 5, 6})) {
            return seqError();
        }
        if (msg == MSG_GETCLOSE) {
            return fileSystemGetClose(origin, data);
        }
        return msg == MSG_GETFIRSTFILE ? fileSystemGetFirstFile(origin, data)
                                       : fileSystemGetNextFile(origin, data);
    case MSG_CHANGEDIRECTORY:
    case MSG_CREATEDIRECTORY:
    case MSG_DELETE:
    case MSG_FORMATMEDIA:
    case MSG_RENAME:
    case MSG_COPY:
    case MSG_AUTOMATICCAPTUREDIRECTORY:
        if (!inState({4})) {
            return seqError();
        }
        switch (msg) {
        case MSG_CHANGEDIRECTORY:
            return fileSystemChangeDirectory(origin, data);
        case MSG_CREATEDIRECTORY:
            return fileSystemCreateDirectory(origin, data);
        case MSG_DELETE:
            return fileSystemDelete(origin, data);
        case MSG_FORMATMEDIA:
            return fileSystemFormatMedia(origin, data);
        case MSG_RENAME:
            return fileSystemRename(origin, data);
        case MSG_COPY:
            return fileSystemCopy(origin, data);
        default:
            return fileSystemAutomaticCaptureDirectory(origin, data);
        }
    default:
        return badProtocol();
    }
}

Result SourceBase::passThru(const Identity& origin, Msg msg, void* data) {
    return msg == MSG_PASSTHRU ? passThrough(origin, data) : badProtocol();
}

Result SourceBase::pendingXfers(const Identity& origin, Msg msg, TW_PENDINGXFERS& data) {
    switch (msg) {
    case MSG_GET:
        return inState({4, 5, 6, 7}) ? pendingXfersGet(origin, data) : seqError();
    case MSG_ENDXFER: {
        if (!inState({6, 7})) {
            return seqError();
        }
        const Result result = pendingXfersEnd(origin, data);
        if (result.succeeded()) {
            TW_UINT32 group = 0;
            const bool groupKnown = xferGroupGet(origin, group).succeeded();
            const bool more = data.Count != 0 || (groupKnown && group == DG_AUDIO);
            state_ = more ? 6 : 5;
        }
        return result;
    }
    case MSG_RESET: {
        if (!inState({6})) {
            return seqError();
        }
        const Result result = pendingXfersReset(origin, data);
        if (result.succeeded()) {
            TW_UINT32 group = 0;
            const bool audio = xferGroupGet(origin, group).succeeded() && group == DG_AUDIO;
            if (!audio) {
                state_ = 5;
            }
        }
        return result;
    }
    case MSG_STOPFEEDER:
        return inState({6}) ? pendingXfersStopFeeder(origin, data) : seqError();
    default:
        return badProtocol();
    }
}

Result SourceBase::setupFileXfer(const Identity& origin, Msg msg, void* data) {
    switch (msg) {
    case MSG_GET:
    case MSG_GETDEFAULT:
    case MSG_SET:
        if (!inState({4, 5, 6})) {
            return seqError();
        }
        if (msg == MSG_GET) {
            return setupFileXferGet(origin, data);
        }
        return msg == MSG_GETDEFAULT ? setupFileXferGetDefault(origin, data) : setupFileXferSet(origin, data);
    case MSG_RESET:
        return inState({4}) ? setupFileXferReset(origin, data) : seqError();
    default:
        return badProtocol();
    }
}

Result SourceBase::setupMemXfer(const Identity& origin, Msg msg, TW_SETUPMEMXFER& data) {
    return getIn(msg, {4, 5, 6}, [&] { return setupMemXferGet(origin, data); });
}

Result SourceBase::status(const Identity& origin, Msg msg, TW_STATUS& data) {
    return msg == MSG_GET ? statusGet(origin, data) : badProtocol();
}

Result SourceBase::statusUtf8(const Identity& origin, Msg msg, void* data) {
    return msg == MSG_GET ? statusUtf8Get(origin, data) : badProtocol();
}

Result SourceBase::userInterface(const Identity& origin, Msg msg, TW_USERINTERFACE& data) {
    switch (msg) {
    case MSG_DISABLEDS: {
        // The source moves to 6 just before it tells the application that images are ready; until
        // the application has been told, it still sees state 5.
        if (!inState({5}) && !(state_ == 6 && transferNoticeUnderway())) {
            return seqError();
        }
        const Result result = userInterfaceDisable(origin, data);
        if (result.succeeded()) {
            state_ = 4;
        }
        return result;
    }
    case MSG_ENABLEDS: {
        if (!inState({4}) || anyInstanceEnabled()) {
            return seqError();
        }
        const Result result = userInterfaceEnable(origin, data);
        if ((result.returnCode == TWRC_SUCCESS || result.returnCode == TWRC_CHECKSTATUS) && state_ == 4) {
            state_ = 5;
        }
        return result;
    }
    case MSG_ENABLEDSUIONLY: {
        if (!inState({4})) {
            return seqError();
        }
        const Result result = userInterfaceEnableUiOnly(origin, data);
        if (result.succeeded()) {
            state_ = 5;
        }
        return result;
    }
    default:
        return badProtocol();
    }
}

Result SourceBase::xferGroup(const Identity& origin, Msg msg, TW_UINT32& data) {
    switch (msg) {
    case MSG_GET:
        return inState({4, 5, 6}) ? xferGroupGet(origin, data) : seqError();
    case MSG_SET:
        return inState({6}) ? xferGroupSet(origin, data) : seqError();
    default:
        return badProtocol();
    }
}

Result SourceBase::image(const Identity& origin, TW_UINT16 dat, Msg msg, void* data) {
    if (data == nullptr && dat != DAT_IMAGEFILEXFER) {
        return badValue();
    }
    switch (dat) {
    case DAT_EXTIMAGEINFO:
        return extImageInfo(origin, msg, data);
    case DAT_GRAYRESPONSE:
        return grayResponse(origin, msg, data);
    case DAT_ICCPROFILE:
        return iccProfile(origin, msg, data);
    case DAT_IMAGEFILEXFER:
        return imageFileXfer(origin, msg);
    case DAT_IMAGEINFO:
        return imageInfo(origin, msg, *static_cast<TW_IMAGEINFO*>(data));
    case DAT_IMAGELAYOUT:
        return imageLayout(origin, msg, *static_cast<TW_IMAGELAYOUT*>(data));
    case DAT_IMAGEMEMFILEXFER:
        return imageMemFileXfer(origin, msg, data);
    case DAT_IMAGEMEMXFER:
        return imageMemXfer(origin, msg, *static_cast<TW_IMAGEMEMXFER*>(data));
    case DAT_IMAGENATIVEXFER:
        return imageNativeXfer(origin, msg, *static_cast<TW_HANDLE*>(data));
    case DAT_JPEGCOMPRESSION:
        return jpegCompression(origin, msg, data);
    case DAT_PALETTE8:
        return palette8(origin, msg, data);
    case DAT_RGBRESPONSE:
        return rgbResponse(origin, msg, data);
    default:
        return badProtocol();
    }
}

Result SourceBase::extImageInfo(const Identity& origin, Msg msg, void* data) {
    return getIn(msg, {7}, [&] { return extImageInfoGet(origin, data); });
}

Result SourceBase::grayResponse(const Identity& origin, Msg msg, void* data) {
    if (!inState({4})) {
        return seqError();
    }
    switch (msg) {
    case MSG_SET:
        return grayResponseSet(origin, data);
    case MSG_RESET:
        return grayResponseReset(origin, data);
    default:
        return badProtocol();
    }
}

Result SourceBase::iccProfile(const Identity& origin, Msg msg, void* data) {
    return getIn(msg, {6, 7}, [&] { return iccProfileGet(origin, data); });
}

Result SourceBase::imageFileXfer(const Identity& origin, Msg msg) {
    return transfer(msg, {6}, TWRC_XFERDONE, [&] { return imageFileXferGet(origin); });
}

Result SourceBase::imageInfo(const Identity& origin, Msg msg, TW_IMAGEINFO& data) {
    return getIn(msg, {6, 7}, [&] { return imageInfoGet(origin, data); });
}

Result SourceBase::imageLayout(const Identity& origin, Msg msg, TW_IMAGELAYOUT& data) {
    switch (msg) {
    case MSG_GET:
        return inState({4, 5, 6}) ? imageLayoutGet(origin, data) : seqError();
    case MSG_GETDEFAULT:
        return inState({4, 5, 6}) ? imageLayoutGetDefault(origin, data) : seqError();
    case MSG_SET:
        return inState({4}) ? imageLayoutSet(origin, data) : seqError();
    case MSG_RESET:
        return inState({4}) ? imageLayoutReset(origin, data) : seqError();
    default:
        return badProtocol();
    }
}

Result SourceBase::imageMemFileXfer(const Identity& origin, Msg msg, void* data) {
    return transfer(msg, {6}, TWRC_XFERDONE, [&] { return imageMemFileXferGet(origin, data); });
}

Result SourceBase::imageMemXfer(const Identity& origin, Msg msg, TW_IMAGEMEMXFER& data) {
    const Result result = getIn(msg, {6, 7}, [&] { return imageMemXferGet(origin, data); });
    if (msg == MSG_GET && (result.returnCode == TWRC_SUCCESS || result.returnCode == TWRC_XFERDONE)) {
        state_ = 7;
    }
    return result;
}

Result SourceBase::imageNativeXfer(const Identity& origin, Msg msg, TW_HANDLE& data) {
    return transfer(msg, {6}, TWRC_XFERDONE, [&] { return imageNativeXferGet(origin, data); });
}

Result SourceBase::jpegCompression(const Identity& origin, Msg msg, void* data) {
    switch (msg) {
    case MSG_GET:
        return inState({4, 5, 6}) ? jpegCompressionGet(origin, data) : seqError();
    case MSG_GETDEFAULT:
        return inState({4, 5, 6}) ? jpegCompressionGetDefault(origin, data) : seqError();
    case MSG_SET:
        return inState({4}) ? jpegCompressionSet(origin, data) : seqError();
    case MSG_RESET:
        return inState({4}) ? jpegCompressionReset(origin, data) : seqError();
    default:
        return badProtocol();
    }
}

Result SourceBase::palette8(const Identity& origin, Msg msg, void* data) {
    switch (msg) {
    case MSG_GET:
        return inState({4, 5, 6}) ? palette8Get(origin, data) : seqError();
    case MSG_GETDEFAULT:
        return inState({4, 5, 6}) ? palette8GetDefault(origin, data) : seqError();
    case MSG_SET:
        return inState({4}) ? palette8Set(origin, data) : seqError();
    case MSG_RESET:
        return inState({4}) ? palette8Reset(origin, data) : seqError();
    default:
        return badProtocol();
    }
}

Result SourceBase::rgbResponse(const Identity& origin, Msg msg, void* data) {
    if (!inState({4})) {
        return seqError();
    }
    switch (msg) {
    case MSG_SET:
        return rgbResponseSet(origin, data);
    case MSG_RESET:
        return rgbResponseReset(origin, data);
    default:
        return badProtocol();
    }
}

Result SourceBase::audio(const Identity& origin, TW_UINT16 dat, Msg msg, void* data) {
    if (data == nullptr && dat != DAT_AUDIOFILEXFER) {
        return badValue();
    }
    switch (dat) {
    case DAT_AUDIOFILEXFER:
        return audioFileXfer(origin, msg);
    case DAT_AUDIOINFO:
        return audioInfo(origin, msg, data);
    case DAT_AUDIONATIVEXFER:
        return audioNativeXfer(origin, msg, data);
    default:
        return badProtocol();
    }
}

Result SourceBase::audioFileXfer(const Identity& origin, Msg msg) {
    return transfer(msg, {6}, TWRC_XFERDONE, [&] { return audioFileXferGet(origin); });
}

Result SourceBase::audioInfo(const Identity& origin, Msg msg, void* data) {
    return getIn(msg, {6, 7}, [&] { return audioInfoGet(origin, data); });
}

Result SourceBase::audioNativeXfer(const Identity& origin, Msg msg, void* data) {
    return transfer(msg, {6}, TWRC_SUCCESS, [&] { return audioNativeXferGet(origin, data); });
}

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
