// Routing of the DG_CONTROL triplets: one router per data argument type, checking the message and
// the TWAIN state before the operation, and moving the state when the operation succeeds.
#include "source/twpp/source_base.h"
#include "source/twpp/source_routing.h"

#include <cstring>

namespace Twpp {

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

} // namespace Twpp
