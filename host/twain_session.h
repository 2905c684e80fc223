// The application side of TWAIN over a Data Source Manager loaded at run time: opening, the
// negotiation, enabling the source's user interface, its notifications and the image transfers.
#pragma once

#include "host/options.h"
#include "platform/host_window.h"
#include "platform/module.h"
#include "source/twpp/twain.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace host {

struct SourceListing {
    std::string productName;
    std::string manufacturer;
    std::string version;
};

// One saved image of a batch.
struct SavedImage {
    std::filesystem::path file;
    int width = 0;
    int height = 0;
};

class TwainSession {
public:
    TwainSession();
    ~TwainSession();
    TwainSession(const TwainSession&) = delete;
    TwainSession& operator=(const TwainSession&) = delete;

    // The application's window, given to the DSM at its opening and to the source as the parent of its
    // user interface (0: none, as on Linux).
    void setParentWindow(platform::NativeWindow window) { window_ = window; }

    // Each step returns an error text, empty on success.
    std::string loadDsm(const std::filesystem::path& library);
    std::string openDsm();
    std::string listSources(std::vector<SourceListing>& sources);
    std::string openSource(const std::string& productName);
    // 8-bit grey pixels and the transfer mechanism.
    std::string negotiate(Mechanism mechanism);
    // Registers for notifications (callback style, or whenever work is done inside them) and shows
    // the source's user interface.
    std::string enable(EventStyle events);

    // From now on the work `mode` names is done from inside the source's notifications, with the
    // images going into `folder` as transferAll does (`saved` and `out` must outlive the session).
    void workInCallback(InCallback mode, const std::filesystem::path& folder,
                        std::optional<unsigned> bufferRows, std::vector<SavedImage>& saved,
                        std::ostream& out);
    // What failed inside a notification, empty when nothing did.
    std::string callbackError() const;
    // True once the source was closed from inside a notification.
    bool closedInCallback() const { return closedInCallback_; }

    // The source's next notification (MSG_XFERREADY or MSG_CLOSEDSREQ); MSG_NULL when `stop` was
    // set or the time ran out first.
    TW_UINT16 waitNotification(const std::atomic<bool>& stop, std::chrono::milliseconds timeout);

    // One turn of the application's message loop (--events process): every message goes to the
    // source first; its notifications are kept for waitNotification. Nothing in callback style.
    void turnEvents();

    // Transfers every pending image into `folder`, one line each on `out`.
    std::string transferAll(const std::filesystem::path& folder, std::optional<unsigned> bufferRows,
                            std::vector<SavedImage>& saved, std::ostream& out);

    // The stand-in DSM's test switch: it refuses the source's MSG_XFERREADY while set. False when the
    // loaded DSM has no such switch.
    bool refuseXferReady(bool refuse);

    // Disables the user interface and closes the source and the DSM, whatever state they are in.
    void shutDown();

    std::string sourceName() const { return source_.ProductName; }

private:
    TW_UINT16 toDsm(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
    TW_UINT16 toSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
    std::string conditionText(bool ofSource);
    std::string setOne(TW_UINT16 capability, TW_UINT16 type, TW_UINT32 value);
    // Handle memory: the DSM's functions (DAT_ENTRYPOINT), else the system's own.
    TW_HANDLE allocateHandle(TW_UINT32 size);
    void freeHandle(TW_HANDLE handle);
    void* lockHandle(TW_HANDLE handle);
    void unlockHandle(TW_HANDLE handle);
    std::string transferNative(const std::filesystem::path& file, SavedImage& saved);
    std::string transferMemory(const std::filesystem::path& file, std::optional<unsigned> bufferRows,
                               SavedImage& saved);

    platform::Module library_;
    platform::NativeWindow window_ = 0;
    // Notifications the source returned from MSG_PROCESSEVENT, oldest first (application's thread only).
    std::deque<TW_UINT16> pending_;
    DSMENTRYPROC entry_ = nullptr;
    TW_ENTRYPOINT memory_{};
    TW_IDENTITY identity_{};
    TW_IDENTITY source_{};
    Mechanism mechanism_ = Mechanism::native;
    EventStyle events_ = EventStyle::callback;
    bool dsmOpen_ = false;
    // Also changed from inside a notification, on the source's thread.
    std::atomic<bool> sourceOpen_ = false;
    std::atomic<bool> enabled_ = false;
    std::atomic<bool> closedInCallback_ = false;
    InCallback inCallback_ = InCallback::nothing;
    mutable std::mutex callbackErrorMutex_; // guards callbackError_
    std::string callbackError_;
};

} // namespace host
