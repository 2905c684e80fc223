// Result codes of the simulated detector SDK and their texts (as GetErrInfo reports them). They
// stay clear of the device layer's own codes (6, 9, 14, 22, 34).
#pragma once

#include <cstdint>
#include <string>

namespace sensorsim {

enum SimError : std::int32_t {
    kErrInvalidParameter = 101,
    kErrInvalidDetector = 102,
    kErrUnknownAttribute = 103,
    kErrReadOnlyAttribute = 104,
    kErrUnknownCommand = 105,
    kErrNoWorkFolder = 106,
    kErrNoProduct = 107,
    kErrNoSensor = 108,
    kErrNotConnected = 109,
    kErrNoCorrectionFiles = 110,
    kErrSensorInUse = 111,
    kErrAborted = 112,
    kErrTooManyDetectors = 113,
};

std::string errorText(std::int32_t code);

} // namespace sensorsim
