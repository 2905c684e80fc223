// The DS_Entry fuzz target's odd calls: capability operations with any container, any triplet
// with zeroed or null data, and direct calls with identities no DSM handed out.
#include "fuzz/ds_entry_context.h"
#include "fuzz/ds_entry_session.h"

#include "fuzz/containers.h"

#include <cstdint>
#include <cstring>

namespace dsfuzz {

void Session::capability() {
    TW_CAPABILITY cap{};
    cap.Cap = data_.ConsumeIntegralInRange<int>(0, 3) == 0
                  ? data_.ConsumeIntegral<TW_UINT16>()
                  : data_.PickValueInArray({CAP_SUPPORTEDCAPS, CAP_UICONTROLLABLE, CAP_XFERCOUNT,
                                            ICAP_COMPRESSION, ICAP_BITDEPTH, ICAP_PIXELTYPE, ICAP_XFERMECH,
                                            ICAP_UNITS, ICAP_XRESOLUTION, ICAP_PHYSICALWIDTH, CAP_AUTOFEED,
                                            CAP_DUPLEX, CAP_DEVICEONLINE, ICAP_IMAGEFILEFORMAT});
    const fuzzing::Container container = fuzzing::makeContainer(data_);
    cap.ConType = container.type;
    TW_HANDLE own = nullptr;
    if (data_.ConsumeIntegralInRange<int>(0, 7) != 0) {
        own = memory.DSM_MemAllocate(static_cast<TW_UINT32>(container.block.size()));
        if (own != nullptr && !container.block.empty()) {
            std::memcpy(memory.DSM_MemLock(own), container.block.data(), container.block.size());
            memory.DSM_MemUnlock(own);
        }
    }
    cap.hContainer = own;
    call(DG_CONTROL, DAT_CAPABILITY, anyMessage(), &cap);
    if (cap.hContainer != own) {
        memory.DSM_MemFree(cap.hContainer);
    }
    memory.DSM_MemFree(own);
}

// Any triplet the DSM passes on (its own ones left out), with zeroed data: pointers in it are
// null, every other field is whatever the source makes of zero.
void Session::randomTriplet() {
    const TW_UINT32 dg = data_.ConsumeBool() ? data_.PickValueInArray({DG_CONTROL, DG_IMAGE, DG_AUDIO})
                                             : data_.ConsumeIntegral<TW_UINT32>();
    TW_UINT16 dat = data_.ConsumeIntegral<TW_UINT16>();
    if (dat == DAT_IDENTITY || dat == DAT_PARENT || dat == DAT_ENTRYPOINT || dat == DAT_CALLBACK ||
        dat == DAT_CALLBACK2) {
        dat = DAT_NULL;
    }
    alignas(8) char zeroed[1024] = {};
    call(dg, dat, anyMessage(), zeroed);
}

// Calls that no DSM would pass on: an origin the source has never seen (or none), straight to
// DS_Entry.
void Session::directCall() {
    TW_IDENTITY stranger{};
    stranger.Id = 0x10000 + data_.ConsumeIntegral<TW_UINT16>();
    copyText(stranger.ProductName, data_.ConsumeRandomLengthString(40));
    const TW_UINT32 dg = data_.PickValueInArray({DG_CONTROL, DG_IMAGE, DG_AUDIO});
    TW_UINT16 dat = data_.ConsumeIntegral<TW_UINT16>() % 0x0140;
    TW_UINT16 msg = anyMessage();
    // Opening and closing belong to the DSM; an entry point from no DSM would be followed.
    if (dat == DAT_IDENTITY && msg != MSG_GET) {
        msg = MSG_GET;
    }
    if (dat == DAT_ENTRYPOINT) {
        dat = DAT_STATUS;
    }
    alignas(8) char zeroed[1024] = {};
    TW_IDENTITY* origin = data_.ConsumeBool() ? &stranger : nullptr;
    trace("direct", dg, dat, msg, sourceEntry(origin, dg, dat, msg, data_.ConsumeBool() ? zeroed : nullptr));
}

void Session::nullData() {
    const TW_UINT32 dg = data_.PickValueInArray({DG_CONTROL, DG_IMAGE});
    TW_UINT16 dat = data_.PickValueInArray({DAT_CAPABILITY, DAT_EVENT, DAT_PENDINGXFERS, DAT_SETUPMEMXFER,
                                            DAT_STATUS, DAT_USERINTERFACE, DAT_XFERGROUP, DAT_IMAGEINFO,
                                            DAT_IMAGELAYOUT, DAT_IMAGEMEMXFER, DAT_IMAGENATIVEXFER,
                                            DAT_CUSTOMDSDATA, DAT_DEVICEEVENT, DAT_STATUSUTF8});
    call(dg, dat, anyMessage(), nullptr);
}

} // namespace dsfuzz
