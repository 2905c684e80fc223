// The routing base itself: the state check shared by every router, the data-group router every
// instance call passes, and the notifications the source posts. Each data group is routed in a
// file of its own (source_control_routes.cpp, source_image_routes.cpp, source_audio_routes.cpp);
// what an operation answers when no derived source supplies it is in source_default_operations.cpp.
#include "source/twpp/source_base.h"

#include "source/twpp/registry.h"

#include <algorithm>

namespace Twpp {

SourceBase::SourceBase() = default;
SourceBase::~SourceBase() = default;

bool SourceBase::inState(std::initializer_list<TW_UINT16> states) const {
    return std::find(states.begin(), states.end(), state_) != states.end();
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

} // namespace Twpp
