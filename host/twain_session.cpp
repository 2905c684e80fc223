// The TWAIN application: triplets to the DSM and the source, notifications, transfers.
#include "host/twain_session.h"

#include "host/image_files.h"
#include "platform/app_window.h"
#include "platform/handle_memory.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace host {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Notifications the source posts through the DSM's callback, on the source's thread.
struct NotificationQueue {
    std::mutex mutex; // guards messages
    std::condition_variable arrived;
    std::deque<TW_UINT16> messages;
    // Work done inside the notification before it is recorded; set before the source is enabled.
    std::function<void(TW_UINT16)> inside;
};

// DSM libraries no longer used, unloaded only when the program ends: the source's thread may still be
// returning through the DSM from a notification whose callback has already recorded it. Made before
// main runs, so that it goes after everything the data source leaves to the program's end.
std::vector<platform::Module> retiredLibraries;

NotificationQueue& notifications() {
    static NotificationQueue queue;
    return queue;
}

TW_UINT16 TW_CALLINGSTYLE onNotification(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                         TW_MEMREF) {
    if (msg != MSG_XFERREADY && msg != MSG_CLOSEDSREQ) {
        return TWRC_SUCCESS;
    }
    NotificationQueue& queue = notifications();
    if (queue.inside) {
        queue.inside(msg);
    }
    {
        std::lock_guard lock(queue.mutex);
        queue.messages.push_back(msg);
    }
    queue.arrived.notify_all();
    return TWRC_SUCCESS;
}

void copyText(TW_STR32& target, const std::string& text) {
    std::memset(target, 0, sizeof(target));
    std::strncpy(target, text.c_str(), sizeof(target) - 1);
}

std::string text(const TW_STR32& field) {
    return std::string(field, strnlen(field, sizeof(TW_STR32)));
}

} // namespace

TwainSession::TwainSession() {
    identity_.Version.MajorNum = 1;
    identity_.Version.Language = TWLG_ENGLISH;
    identity_.Version.Country = TWCY_USA;
    copyText(identity_.Version.Info, "1.0");
    identity_.ProtocolMajor = 2;
    identity_.ProtocolMinor = 4;
    identity_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    copyText(identity_.Manufacturer, "Ostra");
    copyText(identity_.ProductFamily, "Ostra Sensor");
    copyText(identity_.ProductName, "ostra-acquire");
}

TwainSession::~TwainSession() {
    shutDown();
    notifications().inside = nullptr;
    if (library_) {
        retiredLibraries.push_back(std::move(library_));
    }
}

void TwainSession::workInCallback(InCallback mode, const fs::path& folder, std::optional<unsigned> bufferRows,
                                  std::vector<SavedImage>& saved, std::ostream& out) {
    inCallback_ = mode;
    if (mode == InCallback::nothing) {
        notifications().inside = nullptr;
        return;
    }
    notifications().inside = [this, mode, folder, bufferRows, &saved, &out](TW_UINT16 msg) {
        if (!sourceOpen_) {
            return;
        }
        std::string error;
        if (msg == MSG_XFERREADY) {
            error = transferAll(folder, bufferRows, saved, out);
            if (error.empty() && mode == InCallback::transfers) {
                return; // the close request that follows the last transfer disables and closes
            }
        }
        TW_USERINTERFACE ui{};
        if (toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) != TWRC_SUCCESS && error.empty()) {
            error = "the source could not be disabled inside its notification (" + conditionText(true) + ")";
        }
        enabled_ = false;
        if (toDsm(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_) != TWRC_SUCCESS && error.empty()) {
            error = "the source could not be closed inside its notification (" + conditionText(false) + ")";
        }
        sourceOpen_ = false;
        closedInCallback_ = true;
        if (!error.empty()) {
            std::lock_guard lock(callbackErrorMutex_);
            callbackError_ = error;
        }
    };
}

std::string TwainSession::callbackError() const {
    std::lock_guard lock(callbackErrorMutex_);
    return callbackError_;
}

std::string TwainSession::loadDsm(const fs::path& file) {
    std::string reason;
    library_ = platform::Module::load(file, &reason);
    if (!library_) {
        return "cannot load the DSM " + file.string() + (reason.empty() ? "" : ": " + reason);
    }
    entry_ = library_.function<DSMENTRYPROC>("DSM_Entry");
    if (entry_ == nullptr) {
        library_.unload();
        return file.string() + " is not a TWAIN DSM (it has no DSM_Entry)";
    }
    return {};
}

TW_UINT16 TwainSession::toDsm(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return entry_(&identity_, nullptr, dg, dat, msg, data);
}

TW_UINT16 TwainSession::toSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return entry_(&identity_, &source_, dg, dat, msg, data);
}

std::string TwainSession::conditionText(bool ofSource) {
    TW_STATUS status{};
    entry_(&identity_, ofSource ? &source_ : nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return "condition code " + std::to_string(status.ConditionCode);
}

std::string TwainSession::openDsm() {
    // Windows applications give their window (a pointer to its handle); Linux ones have none.
    if (toDsm(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, window_ != 0 ? &window_ : nullptr) != TWRC_SUCCESS) {
        return "the DSM refused to open (" + conditionText(false) + ")";
    }
    dsmOpen_ = true;
    memory_ = TW_ENTRYPOINT{};
    memory_.Size = sizeof(TW_ENTRYPOINT);
    if (toDsm(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &memory_) != TWRC_SUCCESS) {
        memory_ = TW_ENTRYPOINT{};
    }
    return {};
}

std::string TwainSession::listSources(std::vector<SourceListing>& sources) {
    TW_IDENTITY found{};
    TW_UINT16 rc = toDsm(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &found);
    while (rc == TWRC_SUCCESS) {
        sources.push_back({text(found.ProductName), text(found.Manufacturer), text(found.Version.Info)});
        found = TW_IDENTITY{};
        rc = toDsm(DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &found);
    }
    if (rc != TWRC_ENDOFLIST) {
        return "the DSM could not list its data sources (" + conditionText(false) + ")";
    }
    return {};
}

std::string TwainSession::openSource(const std::string& productName) {
    std::vector<SourceListing> sources;
    if (std::string error = listSources(sources); !error.empty()) {
        return error;
    }
    bool known = false;
    for (const auto& listed : sources) {
        known = known || listed.productName == productName;
    }
    if (!known) {
        return "no data source named \"" + productName + "\" (ostra-acquire --list shows those found)";
    }
    source_ = TW_IDENTITY{};
    copyText(source_.ProductName, productName);
    if (toDsm(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_) != TWRC_SUCCESS) {
        return "the data source \"" + productName + "\" could not be opened (" + conditionText(false) + ")";
    }
    sourceOpen_ = true;
    return {};
}

std::string TwainSession::setOne(TW_UINT16 capability, TW_UINT16 type, TW_UINT32 value) {
    // A one-value container: item type, then the value in four bytes. It is a handle of the DSM's
    // memory, or without the DSM's functions (TWAIN 1 DSMs) of the system's own, as the source
    // locks it the same way.
    TW_HANDLE container = allocateHandle(6);
    auto* bytes = static_cast<unsigned char*>(lockHandle(container));
    if (bytes == nullptr) {
        freeHandle(container);
        return "no memory for a capability container";
    }
    std::memcpy(bytes, &type, 2);
    std::memcpy(bytes + 2, &value, 4);
    unlockHandle(container);
    TW_CAPABILITY cap{capability, TWON_ONEVALUE, container};
    const TW_UINT16 rc = toSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    freeHandle(container);
    if (rc != TWRC_SUCCESS && rc != TWRC_CHECKSTATUS) {
        return "the source refused capability " + std::to_string(capability) + " = " + std::to_string(value) +
               " (" + conditionText(true) + ")";
    }
    return {};
}

TW_HANDLE TwainSession::allocateHandle(TW_UINT32 size) {
    return memory_.DSM_MemAllocate ? memory_.DSM_MemAllocate(size) : platform::handleAlloc(size);
}

void TwainSession::freeHandle(TW_HANDLE handle) {
    if (memory_.DSM_MemFree) {
        memory_.DSM_MemFree(handle);
    } else {
        platform::handleFree(handle);
    }
}

void* TwainSession::lockHandle(TW_HANDLE handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    return memory_.DSM_MemLock ? memory_.DSM_MemLock(handle) : platform::handleLock(handle);
}

void TwainSession::unlockHandle(TW_HANDLE handle) {
    if (memory_.DSM_MemUnlock) {
        memory_.DSM_MemUnlock(handle);
    } else {
        platform::handleUnlock(handle);
    }
}

std::string TwainSession::negotiate(Mechanism mechanism) {
    mechanism_ = mechanism;
    for (const std::string& error :
         {setOne(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY), setOne(ICAP_BITDEPTH, TWTY_UINT16, 8),
          setOne(ICAP_XFERMECH, TWTY_UINT16, mechanism == Mechanism::native ? TWSX_NATIVE : TWSX_MEMORY)}) {
        if (!error.empty()) {
            return error;
        }
    }
    return {};
}

std::string TwainSession::enable(EventStyle events) {
    events_ = events;
    if (events == EventStyle::callback || inCallback_ != InCallback::nothing) {
        TW_CALLBACK2 callback{};
        callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&onNotification);
        if (toSource(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback) != TWRC_SUCCESS) {
            // DSMs before TWAIN 2.2 know only the first form.
            TW_CALLBACK older{};
            older.CallBackProc = reinterpret_cast<TW_MEMREF>(&onNotification);
            if (toSource(DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &older) != TWRC_SUCCESS) {
                return "the DSM refused the notification callback (" + conditionText(false) +
                       "); try --events process";
            }
        }
    }
    TW_USERINTERFACE ui{1, 0, reinterpret_cast<TW_HANDLE>(window_)};
    if (toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) {
        return "the source could not show its user interface (" + conditionText(true) + ")";
    }
    enabled_ = true;
    return {};
}

TW_UINT16 TwainSession::waitNotification(const std::atomic<bool>& stop, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!stop && std::chrono::steady_clock::now() < deadline) {
        {
            NotificationQueue& queue = notifications();
            std::unique_lock lock(queue.mutex);
            // A callback application waits for the DSM's call; a message loop only looks, between turns.
            const auto wait = events_ == EventStyle::callback ? 100ms : 0ms;
            if (queue.arrived.wait_for(lock, wait, [&] { return !queue.messages.empty(); })) {
                const TW_UINT16 msg = queue.messages.front();
                queue.messages.pop_front();
                return msg;
            }
        }
        if (events_ == EventStyle::process) {
            turnEvents();
            if (!pending_.empty()) {
                const TW_UINT16 msg = pending_.front();
                pending_.pop_front();
                return msg;
            }
        }
    }
    return MSG_NULL;
}

void TwainSession::turnEvents() {
    if (events_ != EventStyle::process || !enabled_) {
        std::this_thread::sleep_for(10ms);
        return;
    }
    // The application's message loop: every message goes to the source first, which also tells
    // its notifications in the answer.
    platform::turnApplicationMessages(
        window_,
        [this](void* message) {
            TW_EVENT event{message, MSG_NULL};
            const TW_UINT16 rc = toSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
            if (event.TWMessage == MSG_XFERREADY || event.TWMessage == MSG_CLOSEDSREQ) {
                pending_.push_back(event.TWMessage);
            }
            return rc == TWRC_DSEVENT;
        },
        10ms);
}

std::string TwainSession::transferAll(const fs::path& folder, std::optional<unsigned> bufferRows,
                                      std::vector<SavedImage>& saved, std::ostream& out) {
    TW_PENDINGXFERS pending{};
    toSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending);
    // A series comes as a composite of its tiles first, then each tile's X-ray.
    const bool series = pending.Count > 1;
    const char* extension = mechanism_ == Mechanism::native ? ".bmp" : ".png";
    int index = 0;
    do {
        std::string name =
            series && index == 0 ? "composite" : "xray-" + std::to_string(series ? index : index + 1);
        SavedImage image;
        image.file = folder / (name + extension);
        std::string error = mechanism_ == Mechanism::native ? transferNative(image.file, image)
                                                            : transferMemory(image.file, bufferRows, image);
        if (!error.empty()) {
            TW_PENDINGXFERS reset{};
            toSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &reset);
            return error;
        }
        out << "Saved " << image.file.string() << " (" << image.width << " x " << image.height << ")"
            << std::endl;
        saved.push_back(image);
        ++index;
        pending = TW_PENDINGXFERS{};
        if (toSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending) != TWRC_SUCCESS) {
            return "the source could not end a transfer (" + conditionText(true) + ")";
        }
    } while (pending.Count != 0 && index < 1000);
    return {};
}

std::string TwainSession::transferNative(const fs::path& file, SavedImage& saved) {
    TW_HANDLE bitmap = nullptr;
    const TW_UINT16 rc = toSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &bitmap);
    if (rc != TWRC_XFERDONE || bitmap == nullptr) {
        return "the native transfer failed (return code " + std::to_string(rc) + ", " + conditionText(true) +
               ")";
    }
    // Without the DSM's memory functions (DSMs before TWAIN 2) the handle is the system's own
    // movable memory (Windows: global memory; Linux: the memory itself).
    const auto* dib = static_cast<const unsigned char*>(lockHandle(bitmap));
    const std::size_t size = dibSize(dib);
    std::string error = writeBitmapFile(file, dib, size);
    if (size != 0) {
        std::int32_t width = 0;
        std::int32_t height = 0;
        std::memcpy(&width, dib + 4, 4);
        std::memcpy(&height, dib + 8, 4);
        saved.width = width;
        saved.height = height < 0 ? -height : height;
    }
    unlockHandle(bitmap);
    freeHandle(bitmap);
    return error;
}

std::string TwainSession::transferMemory(const fs::path& file, std::optional<unsigned> bufferRows,
                                         SavedImage& saved) {
    TW_IMAGEINFO info{};
    if (toSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS) {
        return "the source gave no image information (" + conditionText(true) + ")";
    }
    if (info.BitsPerPixel != 8 || info.ImageWidth <= 0 || info.ImageLength <= 0) {
        return "the source offers an image this program cannot save (" + std::to_string(info.BitsPerPixel) +
               " bits per pixel, " + std::to_string(info.ImageWidth) + " x " +
               std::to_string(info.ImageLength) + ")";
    }
    TW_SETUPMEMXFER setup{};
    if (toSource(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS) {
        return "the source gave no memory transfer sizes (" + conditionText(true) + ")";
    }
    const auto width = static_cast<std::size_t>(info.ImageWidth);
    const auto height = static_cast<std::size_t>(info.ImageLength);
    std::size_t bufferSize = bufferRows ? *bufferRows * width : setup.Preferred;
    if (setup.MaxBufSize != 0 && bufferSize > setup.MaxBufSize) {
        bufferSize = setup.MaxBufSize;
    }
    bufferSize = std::max<std::size_t>({bufferSize, setup.MinBufSize, width});

    GreyImage image{info.ImageWidth, info.ImageLength, std::vector<unsigned char>(width * height)};
    std::vector<unsigned char> buffer(bufferSize);
    std::size_t rowsReceived = 0;
    TW_UINT16 rc = TWRC_SUCCESS;
    // Every strip brings at least one row: more strips than rows mean a source that has lost its way.
    for (std::size_t strips = 0; rc == TWRC_SUCCESS; ++strips) {
        if (strips > height) {
            return "the memory transfer did not end after " + std::to_string(height) + " rows";
        }
        TW_IMAGEMEMXFER strip{};
        strip.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        strip.Memory.Length = static_cast<TW_UINT32>(buffer.size());
        strip.Memory.TheMem = buffer.data();
        rc = toSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
        if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
            return "the memory transfer failed after " + std::to_string(rowsReceived) +
                   " rows (return code " + std::to_string(rc) + ", " + conditionText(true) + ")";
        }
        const std::size_t rows = strip.Rows;
        const std::size_t bytesPerRow = strip.BytesPerRow;
        const std::size_t top = strip.YOffset;
        if (strip.Compression != TWCP_NONE || bytesPerRow < width || rows * bytesPerRow > buffer.size() ||
            top > height || rows > height - top || (rows == 0 && rc == TWRC_SUCCESS)) {
            return "the source sent a strip that does not fit the image (rows " + std::to_string(top) +
                   " to " + std::to_string(top + rows) + ", " + std::to_string(bytesPerRow) +
                   " bytes per row)";
        }
        for (std::size_t row = 0; row < rows; ++row) {
            std::memcpy(image.pixels.data() + (top + row) * width, buffer.data() + row * bytesPerRow, width);
        }
        rowsReceived += rows;
    }
    if (rowsReceived != height) {
        return "the memory transfer ended after " + std::to_string(rowsReceived) + " of " +
               std::to_string(height) + " rows";
    }
    saved.width = image.width;
    saved.height = image.height;
    return writePngFile(file, image);
}

bool TwainSession::refuseXferReady(bool refuse) {
    using Switch = void (*)(TW_UINT16, int);
    const auto refuseNotification = library_.function<Switch>("OstraDsm_refuseNotification");
    if (refuseNotification == nullptr) {
        return false;
    }
    refuseNotification(MSG_XFERREADY, refuse ? 1 : 0);
    return true;
}

void TwainSession::shutDown() {
    if (entry_ == nullptr) {
        return;
    }
    if (enabled_) {
        TW_PENDINGXFERS reset{};
        toSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &reset);
        TW_USERINTERFACE ui{};
        toSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        enabled_ = false;
    }
    if (sourceOpen_) {
        toDsm(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
        sourceOpen_ = false;
    }
    if (dsmOpen_) {
        toDsm(DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr);
        dsmOpen_ = false;
    }
}

} // namespace host
