// The capability operations of the source: each logs, then hands the triplet to the tables.
#include "source/my_source.h"

#include "support/log.h"

using Twpp::Result;

Result MySource::capCommon(const Identity&, Twpp::Msg msg, TW_CAPABILITY& data) {
    return capabilities.capCommon(msg, data);
}

Result MySource::capabilityGet(const Identity& origin, TW_CAPABILITY& data) {
    writeString("capabilityGet Start");
    return capCommon(origin, MSG_GET, data);
}

Result MySource::capabilityGetCurrent(const Identity& origin, TW_CAPABILITY& data) {
    writeString("capabilityGetCurrent Start");
    return capCommon(origin, MSG_GETCURRENT, data);
}

Result MySource::capabilityGetDefault(const Identity& origin, TW_CAPABILITY& data) {
    writeString("capabilityGetDefault Start");
    return capCommon(origin, MSG_GETDEFAULT, data);
}

Result MySource::capabilityReset(const Identity& origin, TW_CAPABILITY& data) {
    writeString("capabilityReset Start");
    return capCommon(origin, MSG_RESET, data);
}

Result MySource::capabilitySet(const Identity& origin, TW_CAPABILITY& data) {
    writeString("capabilitySet Start");
    return capCommon(origin, MSG_SET, data);
}

Result MySource::capabilityQuerySupport(const Identity&, TW_CAPABILITY& data) {
    writeString("capabilityQuerySupport Start");
    return capabilities.querySupport(data);
}

Result MySource::capabilityResetAll(const Identity&) {
    writeString("capabilityResetAll Start");
    return capabilities.resetAll();
}
