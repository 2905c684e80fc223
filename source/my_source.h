// The Ostra sensor's data source: one instance per TWAIN application that opened it.
#pragma once

#include "device/device_wrapper.h"
#include "source/capabilities.h"
#include "source/transfer_cache.h"
#include "source/twpp/source_from_this.h"
#include "support/log.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

class DeviceStatus;

class MySource : public Twpp::SourceFromThis<MySource> {
public:
    // Comes with a fresh DeviceStatus (idle: no thread, no detector).
    MySource();
    ~MySource() override;

protected:
    using Result = Twpp::Result;
    using Identity = Twpp::Identity;

    // Open and close.
    Result identityOpenDs(const Identity& origin) override;
    Result identityCloseDs(const Identity& origin) override;

    // Capabilities.
    Result capabilityGet(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityGetCurrent(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityGetDefault(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityReset(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilitySet(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityQuerySupport(const Identity& origin, TW_CAPABILITY& data) override;
    Result capabilityResetAll(const Identity& origin) override;

    // Transfers.
    Result pendingXfersGet(const Identity& origin, TW_PENDINGXFERS& data) override;
    Result pendingXfersEnd(const Identity& origin, TW_PENDINGXFERS& data) override;
    Result pendingXfersReset(const Identity& origin, TW_PENDINGXFERS& data) override;
    Result setupMemXferGet(const Identity& origin, TW_SETUPMEMXFER& data) override;
    Result imageInfoGet(const Identity& origin, TW_IMAGEINFO& data) override;
    Result imageLayoutGet(const Identity& origin, TW_IMAGELAYOUT& data) override;
    Result imageLayoutGetDefault(const Identity& origin, TW_IMAGELAYOUT& data) override;
    Result imageLayoutSet(const Identity& origin, TW_IMAGELAYOUT& data) override;
    Result imageLayoutReset(const Identity& origin, TW_IMAGELAYOUT& data) override;
    Result imageNativeXferGet(const Identity& origin, TW_HANDLE& data) override;
    Result imageMemXferGet(const Identity& origin, TW_IMAGEMEMXFER& data) override;

    // User interface and events.
    Result userInterfaceEnable(const Identity& origin, TW_USERINTERFACE& data) override;
    Result userInterfaceEnableUiOnly(const Identity& origin, TW_USERINTERFACE& data) override;
    Result userInterfaceDisable(const Identity& origin, TW_USERINTERFACE& data) override;
    Result eventProcess(const Identity& origin, TW_EVENT& data) override;
    bool transferNoticeUnderway() const override;

    // The detector, the shared records, the configuration and the dialog; created at open.
    std::shared_ptr<DeviceWrapper> deviceWrapper;
    // The connection of the detector; shared with the dialog as its CalibrartionHandler.
    std::shared_ptr<DeviceStatus> deviceStatus;

private:
    // On the user-interface thread: posts the notification the dialog asked for (save or close)
    // as soon as the entry lock is free. Never waits for that lock.
    static void dispatchRequests();
    // On the user-interface thread: the application refused MSG_XFERREADY for the source of
    // `appId`; back to state 5 with the dialog shown again.
    static void saveRefused(TW_UINT32 appId);
    // Tells the user-interface thread that the request record changed.
    void requestChanged();
    // Shows the dialog again (the images stay) after a refused MSG_XFERREADY.
    void showDialogAgain();
    // The application refused MSG_CLOSEDSREQ: in state 5 the dialog shows again.
    void closeRefused();
    // Logs the connection and correction state and the time, as every event does.
    void logEventState() const;

    // Connects the last known sensor now (true when its detector was created) or leaves it to the
    // connection thread, which it starts.
    bool initDevice(std::optional<std::string> deviceNumber);
    // The detector's image size, or 1000 x 1500 without an open detector.
    std::pair<int, int> detectorImageSize() const;
    Result capCommon(const Identity& origin, Twpp::Msg msg, TW_CAPABILITY& data);

    std::shared_ptr<Image> frontImage() const;
    std::size_t queuedImages() const;
    void setRequest(std::uint8_t action);
    // Removes `image` from the front of the queue if it is still there.
    void removeFront(const std::shared_ptr<Image>& image);
    // The front image left the queue (or the queue was emptied): its transfer state goes with it.
    void frontImageLeft();
    Result currentLayout(TW_IMAGELAYOUT& data) const;

    // The capability tables and values; built at every open.
    Capabilities capabilities;
    // Rows of the front image already delivered by memory transfer, and that image: the count
    // belongs to it alone (another image at the front starts again at row 0).
    TW_UINT32 memRowOffset = 0;
    std::weak_ptr<Image> memRowImage;
    TransferCache transferCache;
    // Log lines of memory transfer strips not yet written.
    LogRecord stripLog;
    // The user-interface thread that is posting MSG_XFERREADY, while it does; guarded by the entry lock.
    std::optional<std::thread::id> announcingFrom;
};
