// The two router shapes most triplets share, for the files that route each data group: a get-only
// triplet allowed in some states, and a transfer that moves the source to state 7 when it is done.
#pragma once

#include "source/twpp/source_base.h"

namespace Twpp {

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

} // namespace Twpp
