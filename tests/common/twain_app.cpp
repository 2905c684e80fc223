#include "tests/common/twain_app.h"

#include <cstring>
#include <map>

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

namespace {

std::map<TW_UINT32, TwainApp*>& appsById() {
    static std::map<TW_UINT32, TwainApp*> apps;
    return apps;
}

TW_UINT16 TW_CALLINGSTYLE recordNotification(TW_IDENTITY*, TW_IDENTITY* dest, TW_UINT32, TW_UINT16,
                                             TW_UINT16 msg, TW_MEMREF) {
    if (dest != nullptr) {
        if (auto found = appsById().find(dest->Id); found != appsById().end()) {
            found->second->notifications.push_back(msg);
        }
    }
    return TWRC_SUCCESS;
}

void copyText(TW_STR32& target, const std::string& text) {
    std::memset(target, 0, sizeof(target));
    std::strncpy(target, text.c_str(), sizeof(target) - 1);
}

} // namespace

TwainApp::TwainApp(const std::string& name) {
    identity_.Version.MajorNum = 1;
    identity_.Version.Language = TWLG_ENGLISH;
    identity_.Version.Country = TWCY_USA;
    copyText(identity_.Version.Info, "1.0");
    identity_.ProtocolMajor = 2;
    identity_.ProtocolMinor = 4;
    identity_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    copyText(identity_.Manufacturer, "Test");
    copyText(identity_.ProductFamily, "Test");
    copyText(identity_.ProductName, name);
}

TwainApp::~TwainApp() {
    if (sourceOpen_) {
        TW_USERINTERFACE ui{};
        call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        closeSource();
    }
    closeDsm();
}

TW_UINT16 TwainApp::openDsm() {
    const TW_UINT16 rc = DSM_Entry(&identity_, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr);
    if (rc == TWRC_SUCCESS) {
        dsmOpen_ = true;
        appsById()[identity_.Id] = this;
    }
    return rc;
}

TW_UINT16 TwainApp::closeDsm() {
    if (!dsmOpen_) {
        return TWRC_SUCCESS;
    }
    const TW_UINT16 rc = DSM_Entry(&identity_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr);
    if (rc == TWRC_SUCCESS) {
        dsmOpen_ = false;
        appsById().erase(identity_.Id);
    }
    return rc;
}

TW_UINT16 TwainApp::openSource(const std::string& productName) {
    source_ = TW_IDENTITY{};
    copyText(source_.ProductName, productName);
    const TW_UINT16 rc = DSM_Entry(&identity_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_);
    sourceOpen_ = rc == TWRC_SUCCESS;
    return rc;
}

TW_UINT16 TwainApp::closeSource() {
    const TW_UINT16 rc = DSM_Entry(&identity_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
    if (rc == TWRC_SUCCESS) {
        sourceOpen_ = false;
    }
    return rc;
}

TW_UINT16 TwainApp::registerCallback() {
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&recordNotification);
    return DSM_Entry(&identity_, &source_, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback);
}

TW_UINT16 TwainApp::call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return DSM_Entry(&identity_, &source_, dg, dat, msg, data);
}

TW_UINT16 TwainApp::dsm(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return DSM_Entry(&identity_, nullptr, dg, dat, msg, data);
}

TW_UINT16 TwainApp::sourceCondition() {
    TW_STATUS status{};
    call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return status.ConditionCode;
}

std::pair<TW_UINT16, TW_UINT16> TwainApp::setOne(TW_UINT16 id, TW_UINT16 type, TW_UINT32 value) {
    unsigned char container[6];
    std::memcpy(container, &type, 2);
    std::memcpy(container + 2, &value, 4);
    TW_CAPABILITY cap{id, TWON_ONEVALUE, container};
    const TW_UINT16 rc = call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    return {rc, sourceCondition()};
}
