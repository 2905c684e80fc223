// The DS_Entry fuzz target's transfers: native and memory transfers with any buffer, pending
// transfers, image information and layout, the transfer mechanism.
#include "fuzz/ds_entry_context.h"
#include "fuzz/ds_entry_session.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace dsfuzz {

void Session::nativeTransfer() {
    TW_HANDLE image = nullptr;
    const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image);
    if (rc == TWRC_XFERDONE) {
        require(image != nullptr);
    }
    memory.DSM_MemFree(image);
}

void Session::memoryTransfer() {
    TW_SETUPMEMXFER setup{};
    call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
    // The buffer is exactly as long as the application says, so that a write past it shows.
    TW_UINT32 length = 0;
    switch (data_.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        length = setup.Preferred;
        break;
    case 1:
        length = setup.MinBufSize;
        break;
    case 2:
        length = data_.ConsumeIntegralInRange<TW_UINT32>(0, 64);
        break;
    default:
        length = data_.ConsumeIntegralInRange<TW_UINT32>(0, 4u << 20);
        break;
    }
    length = std::min<TW_UINT32>(length, 16u << 20);
    std::vector<char> buffer(length);
    TW_IMAGEMEMXFER xfer{};
    xfer.Compression = TWON_DONTCARE16;
    xfer.BytesPerRow = xfer.Columns = xfer.Rows = xfer.XOffset = xfer.YOffset = xfer.BytesWritten =
        0xFFFFFFFF;
    xfer.Memory.Flags =
        data_.ConsumeBool() ? (TWMF_APPOWNS | TWMF_POINTER) : data_.ConsumeIntegral<TW_UINT32>();
    xfer.Memory.Length =
        data_.ConsumeIntegralInRange<int>(0, 7) == 0 ? data_.ConsumeIntegral<TW_UINT32>() : length;
    if (xfer.Memory.Length > length) {
        // A length beyond the buffer is the application's lie that no source can see through.
        xfer.Memory.Length = length;
    }
    xfer.Memory.TheMem =
        data_.ConsumeIntegralInRange<int>(0, 7) == 0 || length == 0 ? nullptr : buffer.data();
    const int strips = data_.ConsumeIntegralInRange<int>(1, 64);
    for (int i = 0; i < strips; ++i) {
        const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
        if (rc != TWRC_SUCCESS) {
            break;
        }
        require(xfer.BytesWritten <= xfer.Memory.Length);
    }
}

void Session::pendingTransfers() {
    TW_PENDINGXFERS pending{};
    call(DG_CONTROL, DAT_PENDINGXFERS,
         data_.PickValueInArray({MSG_GET, MSG_ENDXFER, MSG_RESET, MSG_STOPFEEDER}), &pending);
}

void Session::imageInfoAndLayout() {
    TW_IMAGEINFO info{};
    call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
    TW_IMAGELAYOUT layout{};
    const auto bytes = data_.ConsumeBytes<char>(sizeof layout);
    std::memcpy(&layout, bytes.data(), bytes.size());
    call(DG_IMAGE, DAT_IMAGELAYOUT, data_.PickValueInArray({MSG_GET, MSG_GETDEFAULT, MSG_SET, MSG_RESET}),
         &layout);
}

void Session::setMechanism() {
    unsigned char container[6];
    const TW_UINT16 type = TWTY_UINT16;
    const TW_UINT32 value = data_.ConsumeBool() ? TWSX_MEMORY : TWSX_NATIVE;
    std::memcpy(container, &type, 2);
    std::memcpy(container + 2, &value, 4);
    TW_CAPABILITY cap{ICAP_XFERMECH, TWON_ONEVALUE, container};
    call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
}

} // namespace dsfuzz
