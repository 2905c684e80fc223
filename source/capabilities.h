// The capability set the source negotiates: one handler per capability id, the TWQC support flags,
// and the capability values an application may change (they start anew at every open).
#pragma once

#include "source/twpp/capability.h"
#include "source/twpp/result.h"

#include <functional>
#include <vector>

class Capabilities {
public:
    using Handler = std::function<Twpp::Result(Twpp::Msg, TW_CAPABILITY&)>;

    // Fills both tables, in the order of the capability set; the physical size is the detector's
    // image size in pixels (logged as "width: " and "height: ").
    void build(int width, int height);

    // Looks the handler up and answers the message; an unknown id is TWCC_CAPUNSUPPORTED.
    Twpp::Result capCommon(Twpp::Msg msg, TW_CAPABILITY& data);
    // Answers a TWTY_INT32 one value with the id's TWQC flags (0 for an unknown id).
    Twpp::Result querySupport(TW_CAPABILITY& data);
    // Resets every capability whose flags include TWQC_RESET.
    Twpp::Result resetAll();

    // Ids of the handler table, in table order.
    std::vector<TW_UINT16> ids() const;

    // Capability values that live in the source.
    Twpp::Bool autoFeed = true;
    Twpp::Bool autoScan = false;
    Twpp::Bool duplex = false;
    TW_INT16 xferCount = -1;
    TW_UINT16 xferMech = TWSX_NATIVE;

private:
    struct Entry {
        TW_UINT16 id;
        TW_INT32 flags;
        Handler handler;
    };

    void add(TW_UINT16 id, TW_INT32 flags, Handler handler);
    const Entry* find(TW_UINT16 id) const;
    Twpp::Result supportedCaps(Twpp::Msg msg, TW_CAPABILITY& data) const;
    Twpp::Result transferCount(Twpp::Msg msg, TW_CAPABILITY& data);
    Twpp::Result transferMechanism(Twpp::Msg msg, TW_CAPABILITY& data);

    std::vector<Entry> entries_;
};
