// The DS_Entry fuzz target's session: opening, the input's steps, the work some applications do
// from inside the source's notification, and the careful end.
#include "fuzz/ds_entry_session.h"
#include "fuzz/ds_entry_context.h"

#include "dsm/dsm_control.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace dsfuzz {

void Session::copyText(TW_STR32& target, const std::string& text) {
    std::memset(target, 0, sizeof(target));
    std::memcpy(target, text.data(), std::min(text.size(), sizeof(target) - 1));
}

TW_UINT16 Session::call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    const std::lock_guard calling(calling_);
    const TW_UINT16 rc = DSM_Entry(&app_, &source_, dg, dat, msg, data);
    trace("triplet", dg, dat, msg, rc);
    return rc;
}

void Session::trace(const char* kind, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc) {
    if (tracing) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
        std::fprintf(stderr, "%lld ms: %s %x/%x/%x -> %u\n", static_cast<long long>(ms), kind,
                     static_cast<unsigned>(dg), dat, msg, rc);
    }
}

TW_UINT16 Session::anyMessage() {
    return data_.ConsumeIntegralInRange<int>(0, 7) == 0
               ? data_.ConsumeIntegral<TW_UINT16>()
               : data_.PickValueInArray({MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_SET, MSG_RESET,
                                         MSG_QUERYSUPPORT, MSG_RESETALL, MSG_SETCONSTRAINT, MSG_ENDXFER,
                                         MSG_ENABLEDS, MSG_DISABLEDS, MSG_PROCESSEVENT});
}

bool Session::open() {
    app_.Version.MajorNum = data_.ConsumeIntegral<TW_UINT16>();
    app_.ProtocolMajor = data_.ConsumeBool() ? 2 : data_.ConsumeIntegral<TW_UINT16>();
    app_.ProtocolMinor = data_.ConsumeIntegral<TW_UINT16>();
    app_.SupportedGroups =
        data_.ConsumeBool() ? (DG_CONTROL | DG_IMAGE | DF_APP2) : data_.ConsumeIntegral<TW_UINT32>();
    copyText(app_.ProductName, data_.ConsumeRandomLengthString(40));
    copyText(app_.Manufacturer, data_.ConsumeRandomLengthString(40));
    if (DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr) != TWRC_SUCCESS) {
        return false;
    }
    dsmOpen_ = true;
    copyText(source_.ProductName, kProductName);
    if (DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_) != TWRC_SUCCESS) {
        return false;
    }
    sourceOpen_ = true;
    if (data_.ConsumeBool()) {
        TW_CALLBACK2 callback{};
        callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&onNotification);
        callback_ = DSM_Entry(&app_, &source_, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback) ==
                    TWRC_SUCCESS;
        if (callback_) {
            inside_ = data_.PickValueInArray({Inside::nothing, Inside::all, Inside::transfers});
            if (inside_ != Inside::nothing) {
                setInside([this](TW_UINT16 msg) { workInside(msg); });
            }
        }
    }
    return true;
}

Session::~Session() {
    setInside(nullptr);
}

void Session::workInside(TW_UINT16 msg) {
    // Not while the application's thread is inside a call of its own: it would wait for this one.
    std::unique_lock calling(calling_, std::try_to_lock);
    if (!calling.owns_lock() || !sourceOpen_) {
        return;
    }
    const auto inCall = [this](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        const TW_UINT16 rc = DSM_Entry(&app_, &source_, dg, dat, msg, data);
        trace("inside", dg, dat, msg, rc);
        return rc;
    };
    if (msg == MSG_XFERREADY) {
        // Every image by native transfer, each ended; then the rest of the work, or none.
        TW_PENDINGXFERS pending{};
        bool ended = false;
        for (int images = 0; images < 40 && !ended; ++images) {
            TW_HANDLE image = nullptr;
            if (inCall(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image) != TWRC_XFERDONE) {
                break;
            }
            require(image != nullptr);
            memory.DSM_MemFree(image);
            pending = TW_PENDINGXFERS{};
            require(inCall(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) == TWRC_SUCCESS);
            ended = pending.Count == 0;
        }
        if (!ended) {
            inCall(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
        }
        if (inside_ == Inside::transfers) {
            return;
        }
    }
    TW_USERINTERFACE ui{};
    // Told that images are ready or asked to close, the source is in state 5 here.
    require(inCall(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) == TWRC_SUCCESS);
    require(DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_) == TWRC_SUCCESS);
    sourceOpen_ = false;
}

void Session::run() {
    for (int step = 0; step < 48 && data_.remaining_bytes() > 0; ++step) {
        switch (data_.ConsumeIntegralInRange<int>(0, 15)) {
        case 0:
        case 1:
            capability();
            break;
        case 2:
            enable();
            break;
        case 3:
            processEvent();
            break;
        case 4:
            disable();
            break;
        case 5:
            exposeAndSave();
            break;
        case 6:
            nativeTransfer();
            break;
        case 7:
        case 8:
            memoryTransfer();
            break;
        case 9:
            pendingTransfers();
            break;
        case 10:
            imageInfoAndLayout();
            break;
        case 11:
            randomTriplet();
            break;
        case 12:
            directCall();
            break;
        case 13:
            nullData();
            break;
        case 14:
            setMechanism();
            break;
        default:
            if (data_.ConsumeIntegralInRange<int>(0, 3) == 0) {
                switchTemplateUnanswered();
            } else {
                press(data_.ConsumeBool() ? "pushButton" : "retakeButton", data_.ConsumeBool());
            }
            break;
        }
    }
}

// As a careful application ends: the transfers ended, the user interface disabled, the source
// and the DSM closed. The source must take every step.
void Session::close() {
    // No notification does any work from now on.
    setInside(nullptr);
    if (sourceOpen_) {
        TW_PENDINGXFERS pending{};
        call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
        call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
        TW_USERINTERFACE ui{};
        call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        require(DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_) == TWRC_SUCCESS);
        sourceOpen_ = false;
    }
    if (dsmOpen_) {
        require(DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr) == TWRC_SUCCESS);
        dsmOpen_ = false;
    }
    require(OstraDsm_outstandingHandles() == 0);
}

} // namespace dsfuzz
