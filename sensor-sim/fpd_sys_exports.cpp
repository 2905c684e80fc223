// The nine entry points of the simulated FpdSys library.
#include "device/fpd_sys.h"
#include "sensor-sim/products.h"
#include "sensor-sim/sim_errors.h"
#include "sensor-sim/simulator.h"

#include <cstring>

#if defined(_WIN32)
#define FPD_EXPORT extern "C" __declspec(dllexport)
#else
#define FPD_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using sensorsim::Simulator;

FPD_EXPORT std::int32_t FPD_CALL Create(const char* workFolder, fpd::Callback callback,
                                        std::int32_t* detectorId) {
    return Simulator::instance().create(workFolder, callback, detectorId);
}

FPD_EXPORT std::int32_t FPD_CALL Destroy(std::int32_t detectorId) {
    return Simulator::instance().destroy(detectorId);
}

FPD_EXPORT std::int32_t FPD_CALL GetAttr(std::int32_t detectorId, std::int32_t attribute,
                                         fpd::AttributeValue* value) {
    if (value == nullptr) {
        return sensorsim::kErrInvalidParameter;
    }
    auto detector = Simulator::instance().find(detectorId);
    if (!detector) {
        std::memset(value, 0, sizeof *value);
        return sensorsim::kErrInvalidDetector;
    }
    return detector->getAttr(attribute, *value);
}

FPD_EXPORT std::int32_t FPD_CALL SetAttr(std::int32_t detectorId, std::int32_t attribute,
                                         const fpd::AttributeValue* value) {
    if (value == nullptr) {
        return sensorsim::kErrInvalidParameter;
    }
    auto detector = Simulator::instance().find(detectorId);
    return detector ? detector->setAttr(attribute, *value) : sensorsim::kErrInvalidDetector;
}

FPD_EXPORT std::int32_t FPD_CALL Invoke(std::int32_t detectorId, std::int32_t command,
                                        fpd::CommandParam* params, std::int32_t count) {
    auto detector = Simulator::instance().find(detectorId);
    return detector ? detector->invoke(command, params, count) : sensorsim::kErrInvalidDetector;
}

FPD_EXPORT std::int32_t FPD_CALL Abort(std::int32_t detectorId) {
    auto detector = Simulator::instance().find(detectorId);
    return detector ? detector->abort() : sensorsim::kErrInvalidDetector;
}

FPD_EXPORT std::int32_t FPD_CALL GetErrInfo(std::int32_t code, fpd::ErrorInfo* info) {
    if (info == nullptr) {
        return sensorsim::kErrInvalidParameter;
    }
    std::memset(info, 0, sizeof *info);
    info->code = code;
    std::strncpy(info->text, sensorsim::errorText(code).c_str(), sizeof info->text - 1);
    return fpd::kSuccess;
}

FPD_EXPORT std::int32_t FPD_CALL GetProdCount(std::int32_t* count) {
    if (count == nullptr) {
        return sensorsim::kErrInvalidParameter;
    }
    *count = static_cast<std::int32_t>(std::size(sensorbus::kProducts));
    return fpd::kSuccess;
}

FPD_EXPORT std::int32_t FPD_CALL GetProdList(fpd::ProductInfo* list, std::int32_t count) {
    if (count < 0 || (count > 0 && list == nullptr)) {
        return sensorsim::kErrInvalidParameter;
    }
    std::int32_t index = 0;
    for (const auto& product : sensorbus::kProducts) {
        if (index >= count) {
            break;
        }
        fpd::ProductInfo& info = list[index];
        std::memset(&info, 0, sizeof info);
        info.product = index + 1;
        info.width = product.width;
        info.height = product.height;
        std::strncpy(info.name, std::string(product.name).c_str(), sizeof info.name - 1);
        ++index;
    }
    return fpd::kSuccess;
}
