#include "sensor-sim/sim_errors.h"

namespace sensorsim {

std::string errorText(std::int32_t code) {
    switch (code) {
    case 0:
        return "Succeed";
    case 1:
        return "Task is pending";
    case kErrInvalidParameter:
        return "Invalid parameter";
    case kErrInvalidDetector:
        return "Invalid detector id";
    case kErrUnknownAttribute:
        return "Unknown attribute";
    case kErrReadOnlyAttribute:
        return "Attribute is read-only";
    case kErrUnknownCommand:
        return "Unknown command";
    case kErrNoWorkFolder:
        return "Work directory not found";
    case kErrNoProduct:
        return "Work directory names no known product";
    case kErrNoSensor:
        return "No matching detector is connected";
    case kErrNotConnected:
        return "Detector is not connected";
    case kErrNoCorrectionFiles:
        return "Correction files not found in Correct/Default";
    case kErrSensorInUse:
        return "Detector is in use";
    case kErrAborted:
        return "Task aborted";
    case kErrTooManyDetectors:
        return "Too many detector instances";
    default:
        return "Unknown error " + std::to_string(code);
    }
}

} // namespace sensorsim
