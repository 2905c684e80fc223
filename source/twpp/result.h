// Result of every TWAIN operation: a condition code and a return code.
#pragma once

#include "source/twpp/twain.h"

namespace Twpp {

using Msg = TW_UINT16;
using Identity = TW_IDENTITY;
using Status = TW_STATUS;

struct Result {
    TW_UINT16 conditionCode = TWCC_SUCCESS;
    TW_UINT16 data = 0;
    TW_UINT16 returnCode = TWRC_SUCCESS;

    constexpr Result() = default;
    constexpr Result(TW_UINT16 rc, TW_UINT16 cc) : conditionCode(cc), returnCode(rc) {}

    constexpr bool operator==(const Result&) const = default;
    constexpr bool succeeded() const { return returnCode == TWRC_SUCCESS; }
};

constexpr Result success() {
    return Result(TWRC_SUCCESS, TWCC_SUCCESS);
}
constexpr Result failure(TW_UINT16 conditionCode) {
    return Result(TWRC_FAILURE, conditionCode);
}
constexpr Result badProtocol() {
    return failure(TWCC_BADPROTOCOL);
}
constexpr Result badValue() {
    return failure(TWCC_BADVALUE);
}
constexpr Result seqError() {
    return failure(TWCC_SEQERROR);
}
constexpr Result bummer() {
    return failure(TWCC_BUMMER);
}

} // namespace Twpp
