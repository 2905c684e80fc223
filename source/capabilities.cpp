#include "source/capabilities.h"

#include "source/capability_handlers.h"
#include "support/log.h"

using Twpp::Bool;
using Twpp::Capability;
using Twpp::Fix32;
using Twpp::Result;

namespace {

constexpr TW_INT32 kReadOnly = TWQC_GET | TWQC_GETDEFAULT | TWQC_GETCURRENT; // 0x0D
constexpr TW_INT32 kAll = kReadOnly | TWQC_SET | TWQC_RESET;                 // 0x1F

} // namespace

void Capabilities::add(TW_UINT16 id, TW_INT32 flags, Handler handler) {
    entries_.push_back(Entry{id, flags, std::move(handler)});
}

void Capabilities::build(int width, int height) {
    using namespace handlers;
    entries_.clear();
    add(CAP_SUPPORTEDCAPS, kReadOnly,
        [this](Twpp::Msg msg, TW_CAPABILITY& data) { return supportedCaps(msg, data); });
    add(CAP_UICONTROLLABLE, kReadOnly, fixedReadOnly(Bool(true)));
    add(CAP_XFERCOUNT, kAll, [this](Twpp::Msg msg, TW_CAPABILITY& data) { return transferCount(msg, data); });
    add(ICAP_COMPRESSION, kAll, fixedSettable<TW_UINT16>(TWCP_NONE));
    add(ICAP_BITDEPTH, kAll, fixedSettable<TW_UINT16>(8));
    add(ICAP_BITORDER, kAll, fixedSettable<TW_UINT16>(TWBO_LSBFIRST));
    add(ICAP_PLANARCHUNKY, kAll, fixedSettable<TW_UINT16>(TWPC_CHUNKY));

    writeLog([&](std::ofstream& out) { out << "width: " << width << std::endl; });
    writeLog([&](std::ofstream& out) { out << "height: " << height << std::endl; });
    add(ICAP_PHYSICALWIDTH, kReadOnly, fixedNoList(Fix32(static_cast<float>(width))));
    add(ICAP_PHYSICALHEIGHT, kReadOnly, fixedNoList(Fix32(static_cast<float>(height))));

    add(ICAP_PIXELFLAVOR, kAll, fixedSettable<TW_UINT16>(TWPF_CHOCOLATE));
    add(ICAP_PIXELTYPE, kAll, fixedSettable<TW_UINT16>(TWPT_GRAY));
    add(ICAP_UNITS, kAll, fixedSettable<TW_UINT16>(TWUN_PIXELS));
    add(ICAP_IMAGEFILEFORMAT, kAll, fixedSettable<TW_UINT16>(TWFF_BMP));
    add(ICAP_XFERMECH, kAll,
        [this](Twpp::Msg msg, TW_CAPABILITY& data) { return transferMechanism(msg, data); });
    add(ICAP_XRESOLUTION, kReadOnly, fixedSettable(Fix32(1.0f)));
    add(ICAP_YRESOLUTION, kReadOnly, fixedSettable(Fix32(1.0f)));
    add(CAP_FEEDERENABLED, kAll, fixedReadOnly(Bool(true)));
    add(CAP_AUTOFEED, kAll, currentWithDefault(autoFeed, Bool(true)));
    add(CAP_DUPLEXENABLED, kAll, fixedSettable(Bool(false)));
    add(CAP_DUPLEX, kAll, currentWithDefault(duplex, Bool(false)));
    add(CAP_AUTOSCAN, kAll, currentWithDefault(autoScan, Bool(false)));
    add(CAP_DEVICEONLINE, kReadOnly, fixedReadOnly(Bool(true)));
    add(ICAP_XNATIVERESOLUTION, kReadOnly, fixedReadOnly(Fix32(1.0f)));
    add(ICAP_YNATIVERESOLUTION, kReadOnly, fixedReadOnly(Fix32(1.0f)));
}

const Capabilities::Entry* Capabilities::find(TW_UINT16 id) const {
    for (const auto& entry : entries_) {
        if (entry.id == id) {
            return &entry;
        }
    }
    return nullptr;
}

std::vector<TW_UINT16> Capabilities::ids() const {
    std::vector<TW_UINT16> ids;
    for (const auto& entry : entries_) {
        ids.push_back(entry.id);
    }
    return ids;
}

Result Capabilities::capCommon(Twpp::Msg msg, TW_CAPABILITY& data) {
    const TW_UINT16 id = data.Cap;
    writeLog([&](std::ofstream& out) { out << "capCommon: " << msg << " | " << id << std::endl; });
    const Entry* entry = find(id);
    if (entry == nullptr) {
        return Twpp::failure(TWCC_CAPUNSUPPORTED);
    }
    return entry->handler(msg, data);
}

Result Capabilities::querySupport(TW_CAPABILITY& data) {
    const Entry* entry = find(data.Cap);
    return handlers::oneValue<TW_INT32>(data, entry != nullptr ? entry->flags : 0);
}

Result Capabilities::resetAll() {
    for (const auto& entry : entries_) {
        if ((entry.flags & TWQC_RESET) == 0) {
            continue;
        }
        TW_CAPABILITY scratch{entry.id, TWON_DONTCARE16, nullptr};
        capCommon(MSG_RESET, scratch);
        // Whatever container the reset built is ours to free.
        Capability built(scratch);
    }
    return Twpp::success();
}

Result Capabilities::supportedCaps(Twpp::Msg msg, TW_CAPABILITY& data) const {
    if (msg != MSG_GET && msg != MSG_GETCURRENT && msg != MSG_GETDEFAULT) {
        return handlers::badOperation();
    }
    const auto all = ids();
    return handlers::reply(
        data, Capability::array<TW_UINT16>(data.Cap, static_cast<TW_UINT32>(all.size()), [&](auto& items) {
            for (std::size_t i = 0; i < all.size(); ++i) {
                items.set(i, all[i]);
            }
        }));
}

Result Capabilities::transferCount(Twpp::Msg msg, TW_CAPABILITY& data) {
    switch (msg) {
    case MSG_SET: {
        const auto value = handlers::requested<TW_INT16>(data);
        if (value != -1 && value != 0 && value != 1) {
            return Twpp::badValue();
        }
        xferCount = value;
        break;
    }
    case MSG_GET:
    case MSG_GETCURRENT:
        handlers::oneValue<TW_INT16>(data, xferCount);
        break;
    case MSG_GETDEFAULT:
        handlers::oneValue<TW_INT16>(data, -1);
        break;
    case MSG_RESET:
        xferCount = -1;
        handlers::oneValue<TW_INT16>(data, xferCount);
        break;
    default:
        return handlers::badOperation();
    }
    if (xferCount == 0) {
        xferCount = -1;
        return Result(TWRC_CHECKSTATUS, TWCC_BADVALUE);
    }
    return Twpp::success();
}

Result Capabilities::transferMechanism(Twpp::Msg msg, TW_CAPABILITY& data) {
    switch (msg) {
    case MSG_GET:
        return handlers::reply(
            data, Capability::enumeration<TW_UINT16>(data.Cap, 2, xferMech != 0 ? 1 : 0, 0, [](auto& items) {
                items.set(0, TWSX_NATIVE);
                items.set(1, TWSX_MEMORY);
            }));
    case MSG_GETCURRENT:
        return handlers::oneValue<TW_UINT16>(data, xferMech);
    case MSG_GETDEFAULT:
        return handlers::oneValue<TW_UINT16>(data, TWSX_NATIVE);
    case MSG_RESET:
        xferMech = TWSX_NATIVE;
        return handlers::oneValue<TW_UINT16>(data, xferMech);
    case MSG_SET: {
        const auto value = handlers::requested<TW_UINT16>(data);
        writeLog([&](std::ofstream& out) { out << "IXferMech SET: " << value << std::endl; });
        if (value == TWSX_NATIVE || value == TWSX_MEMORY) {
            xferMech = value;
            writeString("Supported");
            return Twpp::success();
        }
        writeString("Bad value");
        return Twpp::badValue();
    }
    default:
        return handlers::badOperation();
    }
}
