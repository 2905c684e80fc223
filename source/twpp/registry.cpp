#include "source/twpp/registry.h"

#include "platform/module.h"
#include "platform/twain_dsm.h"
#include "source/twpp/memory.h"

#include <cstring>

namespace Twpp::Registry {

namespace {

platform::Module dsmModule;
DSMENTRYPROC dsmEntryPointer = nullptr;
TW_UINT16 lastStatic = TWCC_SUCCESS;

void copyString(TW_STR32& target, const char* text) {
    std::memset(target, 0, sizeof(target));
    std::strncpy(target, text, sizeof(target) - 1);
}

} // namespace

DSMENTRYPROC dsmEntry() {
    return dsmEntryPointer;
}

void acceptEntryPoint(const TW_ENTRYPOINT& entry) {
    dsmEntryPointer = entry.DSM_Entry;
    Memory::setCallbacks(entry);
}

bool ensureDsm() {
    if (dsmEntryPointer != nullptr) {
        return true;
    }
    if (!dsmModule) {
        for (const auto& name : platform::twainDsmLibraryNames()) {
            dsmModule = platform::Module::load(name);
            if (dsmModule) {
                break;
            }
        }
    }
    if (!dsmModule) {
        return false;
    }
    dsmEntryPointer = dsmModule.function<DSMENTRYPROC>("DSM_Entry");
    return dsmEntryPointer != nullptr;
}

void releaseDsm() {
    dsmEntryPointer = nullptr;
    dsmModule.unload();
}

TW_UINT16 lastStaticCondition() {
    return lastStatic;
}
void setLastStaticCondition(TW_UINT16 conditionCode) {
    lastStatic = conditionCode;
}

Identity staticIdentity() {
    Identity id{};
    id.Id = 0;
    id.Version.MajorNum = 1;
    id.Version.MinorNum = 0;
    id.Version.Language = TWLG_ENGLISH;
    id.Version.Country = TWCY_CANADA;
    copyString(id.Version.Info, "v1.0.2");
    id.ProtocolMajor = 2;
    id.ProtocolMinor = 3;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
    copyString(id.Manufacturer, "IT Vanto");
    copyString(id.ProductFamily, "Vanto");
    copyString(id.ProductName, "Vanto Sensor Twain");
    return id;
}

} // namespace Twpp::Registry
