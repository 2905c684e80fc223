// Routing of the DG_AUDIO triplets. This source has no audio: every operation behind them answers
// TWCC_BADPROTOCOL unless a derived source supplies it.
#include "source/twpp/source_base.h"
#include "source/twpp/source_routing.h"

namespace Twpp {

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

} // namespace Twpp
