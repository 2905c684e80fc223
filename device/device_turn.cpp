// How the device layer tells the dialog's lamp: the turns at the device lock, the connection state
// noted during a turn, and its post once the lock is free.
#include "device/device_status.h"

#include "support/log.h"

#include <QMetaObject>
#include <QObject>

#include <utility>

bool DeviceStatus::updateConnectionStatus(bool connected) {
    writeString("updateConnectionStatus 1");
    bool accepted = false;
    const auto wrapper = staticInstance();
    const bool hasDialog = wrapper && wrapper->withDialog([connected, &accepted](QObject& dialog) {
        writeString("updateConnectionStatus 3");
        // Always queued, also on the dialog's own thread: no slot may run while the device layer or
        // the wrapper holds its lock (a slot that reached either would wait on itself).
        accepted =
            QMetaObject::invokeMethod(&dialog, "isConnected", Qt::QueuedConnection, Q_ARG(bool, connected));
    });
    if (!hasDialog) {
        writeTwoString("updateConnectionStatus 2 -- S ", "");
        return false;
    }
    return accepted;
}

DeviceStatus::DeviceTurn::DeviceTurn(DeviceStatus& status) : status_(status) {
    status_.deviceMutex_.lock();
    ++status_.turnDepth_;
}

DeviceStatus::DeviceTurn::~DeviceTurn() {
    const bool outermost = --status_.turnDepth_ == 0;
    status_.deviceMutex_.unlock();
    if (outermost) {
        try {
            status_.postNotedStatus();
        } catch (...) {
            // The lamp keeps its last state; the next change posts again.
        }
    }
}

void DeviceStatus::noteConnectionStatus(bool connected) {
    std::lock_guard lock(mutex_);
    notedStatus_ = connected;
}

void DeviceStatus::postNotedStatus() {
    std::optional<bool> next;
    {
        std::lock_guard lock(mutex_);
        if (postingStatus_ || !notedStatus_) {
            return;
        }
        postingStatus_ = true;
        next = std::exchange(notedStatus_, std::nullopt);
    }
    // One thread posts at a time, so that the dialog receives the states in the order they were
    // noted; a state noted meanwhile is posted by this loop, the last one last.
    while (next) {
        try {
            updateConnectionStatus(*next);
        } catch (...) {
            std::lock_guard lock(mutex_);
            postingStatus_ = false;
            throw;
        }
        std::lock_guard lock(mutex_);
        next = std::exchange(notedStatus_, std::nullopt);
        postingStatus_ = next.has_value();
    }
}

bool DeviceStatus::dialogShown() {
    const auto wrapper = staticInstance();
    return wrapper && wrapper->hasDialog();
}
