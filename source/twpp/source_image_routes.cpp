// Routing of the DG_IMAGE triplets: image description, layout, colour tables and the transfers.
#include "source/twpp/source_base.h"
#include "source/twpp/source_routing.h"

namespace Twpp {

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

} // namespace Twpp
