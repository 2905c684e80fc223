// The pieces of a saved series shared by the transfer and session benchmarks: the images a Full
// Mouth 18 series queues, and the application's side of the transfers.
#include "bench/bench_support.h"
#include "ui/template_layouts.h"

#include <vector>

namespace bench {

std::vector<std::shared_ptr<Image>> fullMouth18Series(int width, int height) {
    std::vector<std::shared_ptr<Image>> series;
    auto composite = syntheticExposure(744, 560);
    composite->composite = true;
    composite->enhance = false;
    series.push_back(composite);
    for (const auto& tile : layoutTemplates()[4].tiles) {
        auto image = syntheticExposure(width, height);
        image->upright = tile.vertical;
        series.push_back(image);
    }
    return series;
}

std::optional<int> transferPending(const SendToSource& send, bool native, unsigned stripRows,
                                   const std::function<void(TW_HANDLE)>& freeHandle) {
    std::vector<char> buffer;
    TW_PENDINGXFERS pending{};
    int images = 0;
    do {
        if (native) {
            TW_HANDLE handle = nullptr;
            if (send(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle) != TWRC_XFERDONE || handle == nullptr) {
                return std::nullopt;
            }
            freeHandle(handle);
        } else {
            TW_IMAGEINFO info{};
            TW_SETUPMEMXFER setup{};
            if (send(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS ||
                send(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS) {
                return std::nullopt;
            }
            buffer.resize(stripRows == 0 ? setup.Preferred
                                         : static_cast<std::size_t>(stripRows) *
                                               static_cast<std::size_t>(info.ImageWidth));
            TW_UINT16 rc = TWRC_SUCCESS;
            while (rc == TWRC_SUCCESS) {
                TW_IMAGEMEMXFER strip{};
                strip.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
                strip.Memory.Length = static_cast<TW_UINT32>(buffer.size());
                strip.Memory.TheMem = buffer.data();
                rc = send(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
            }
            if (rc != TWRC_XFERDONE) {
                return std::nullopt;
            }
        }
        ++images;
        pending = TW_PENDINGXFERS{};
        if (send(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) != TWRC_SUCCESS) {
            return std::nullopt;
        }
    } while (pending.Count != 0);
    return images;
}

} // namespace bench
