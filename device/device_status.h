// DeviceStatus: the detector connection of one open data source. It chooses which plugged sensor to
// open, gives every sensor a work folder named after its serial number, opens, connects and corrects
// it through the SDK, sets up its trigger, tells the dialog's lamp, and runs the connection thread
// that makes the start-up attempt and then opens the sensor on USB arrival and closes it on removal.
//
// The data source uses it in this order: construct, setModuleAnchor and setExpectedSerial, initDevice
// (wrapper, serial, true, no USB identifier) when a serial is known, startConnectionThread; and
// stop(true) when it closes. The dialog reaches it as its CalibrartionHandler.
#pragma once

#include "device/calibration_handler.h"
#include "device/device_wrapper.h"
#include "device/usb_listener.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

// Connection status values.
inline constexpr std::uint8_t kStatusStarting = 0;         // initDevice began
inline constexpr std::uint8_t kStatusNotCreated = 1;       // the library did not load or Create failed
inline constexpr std::uint8_t kStatusNotConnected = 2;     // the connect command failed
inline constexpr std::uint8_t kStatusCorrectionFailed = 3; // the correction command failed
inline constexpr std::uint8_t kStatusReady = 4;            // corrected (also set by onConnect)
inline constexpr std::uint8_t kStatusReopen = 6; // opened from a product copy though its serial folder exists

// Reopen attempts that follow a status-6 result, at most, in the start-up loop and on one arrival.
inline constexpr int kMaxReopenAttempts = 3;

// The pause of the start-up loop after a failed attempt and while waiting for corrections.
inline constexpr std::chrono::milliseconds kStartupPause{100};

// SDK time-outs of the opening commands.
inline constexpr int kConnectTimeoutMs = 10000;
inline constexpr int kCorrectionTimeoutMs = 2000;

class DeviceStatus : public CalibrartionHandler {
public:
    DeviceStatus();
    // Stops the connection thread and waits for it to end.
    ~DeviceStatus() override;
    DeviceStatus(const DeviceStatus&) = delete;
    DeviceStatus& operator=(const DeviceStatus&) = delete;

    // An address inside the data source's module (the source gives its entry point); initDevice
    // finds the module's file from it. Null: this code's own module.
    void setModuleAnchor(const void* anchor);
    // The serial number the data source expects (its last device number), or none.
    void setExpectedSerial(std::optional<std::string> serial);

    // One open attempt: chooses and opens the sensor (createDetector), sets up its trigger and starts
    // a software-triggered acquisition where the sensor asks for one. True when the detector was
    // created and is ready. `wrapper` may be empty: a wrapper is then created into it.
    bool initDevice(std::shared_ptr<DeviceWrapper>& wrapper, std::optional<std::string> expectedSerial,
                    bool strict, std::optional<std::string> usbId);

    // Chooses the sensor and opens it from its serial folder or a product copy, connects it and
    // applies the correction. 0 on success; 34 no sensor can be chosen (before the library is
    // loaded); 9 the library is missing; 14 the sensor was opened from a product copy though its
    // serial folder exists (status 6: open it again); else the SDK's code.
    int createDetector(const std::filesystem::path& workRoot, std::shared_ptr<DeviceWrapper>& wrapper,
                       std::optional<std::string> expectedSerial, bool strict,
                       std::optional<std::string> usbId);

    // Creates the detector instance on workRoot/folderName and connects it (status 1 or 2 on failure).
    // A folder name that is not a plain name under the work root is refused: status 1, result 34.
    int openDevice(const std::shared_ptr<CDetector>& detector, const std::filesystem::path& workRoot,
                   std::string_view folderName, const std::shared_ptr<DeviceWrapper>& wrapper);

    // Applies the correction (status 3 on failure, 4 on success).
    int setCorrection(const std::shared_ptr<CDetector>& detector);

    // Tells the dialog of staticInstance, if there is one, through its "isConnected" signal (queued
    // when called off the dialog's thread). True when the dialog exists and took the call.
    bool updateConnectionStatus(bool connected);

    // After a successful open: status 4, the dialog's lamp, and the serial folder recorded.
    void onConnect();
    // Makes sure the opened sensor has its folder under the work root (filled from the folder it was
    // opened on), and records it in config.json. False when the sensor's serial cannot name a folder
    // or the folder cannot be made.
    bool create_serial_folder();

    // Starts the connection thread (none is started while one runs).
    void startConnectionThread();
    // Ends the connection thread: posts a close to its window and requests a stop; with `join`, waits
    // for the thread to end (not when called on the thread itself). Safe without a thread.
    void stop(bool join);

    // One open attempt of the connection thread: closes an open detector, and opens the sensor with
    // the configuration's last serial number (non-strict). With needDialog, only while a dialog
    // shows the result.
    bool tryInit(std::optional<std::string> usbId, bool needDialog);
    // USB arrival of a sensor (identifier possibly empty) and removal; called on the connection thread.
    void onArrival(const std::string& identifier);
    void onRemoval();

    // CalibrartionHandler
    bool acknowledgeStatus() override;
    bool reinitDevice() override;
    std::filesystem::path currentWorkFolder() override;
    std::optional<std::string> serialNumber() override;
    bool correctionFailed() override;
    void pauseConnection() override;
    void resumeConnection() override;

    // Observers, from any thread.
    std::uint8_t status() const { return status_.load(); }
    bool idle() const { return idle_.load(); }
    bool paused() const { return paused_.load(); }
    // The user gave up loading correction files for the connected sensor.
    bool failureSeen() const { return failureSeen_.load(); }
    std::shared_ptr<CDetector> detector() const;
    std::optional<std::string> usbId() const;
    // A connection thread was started and has not finished yet.
    bool connectionThreadRunning() const { return threadActive_.load(); }
    const std::shared_ptr<UsbListener>& usbListener() const { return usbListener_; }

private:
    void event_connection(std::stop_token stop);
    void startupLoop(const std::stop_token& stop);
    bool stopRequested() const;
    void setDetector(std::shared_ptr<CDetector> detector);
    void forgetExpectedSerial(const std::string& serial);
    // openDevice on workRoot/folderName; on success the wrapper's work folder is that folder.
    bool openFromFolder(const std::shared_ptr<CDetector>& detector, const std::filesystem::path& workRoot,
                        const std::string& folderName, std::shared_ptr<DeviceWrapper>& wrapper, int& result);

    // A turn at deviceMutex_, the only way it is taken. Connection states noted for the dialog
    // during a turn are posted when the outermost turn has ended and the lock is free again.
    class DeviceTurn {
    public:
        explicit DeviceTurn(DeviceStatus& status);
        ~DeviceTurn();
        DeviceTurn(const DeviceTurn&) = delete;
        DeviceTurn& operator=(const DeviceTurn&) = delete;

    private:
        DeviceStatus& status_;
    };

    // Keeps the connection state for the dialog; posted by postNotedStatus.
    void noteConnectionStatus(bool connected);
    // Posts the state noted last, unless another thread is posting already (that one posts it
    // after its own). Called with deviceMutex_ free; no lock is held while posting.
    void postNotedStatus();
    // staticInstance has a dialog to show the connection.
    static bool dialogShown();

    // deviceMutex_ is held across every open, close and connection change (initDevice and all it
    // calls, tryInit, onArrival, onRemoval, onConnect, create_serial_folder, reinitDevice and the
    // thread's teardown), so that the connection thread and the dialog's reinitDevice take turns. It
    // is recursive because these operations nest; turnDepth_, guarded by it, counts the nesting. It
    // is never taken by the SDK's callback thread, nor held while stop waits for the thread, nor
    // while anything is posted to the dialog.
    mutable std::recursive_mutex deviceMutex_;
    int turnDepth_ = 0;

    // mutex_ guards the fields below it; held briefly, never while calling out. Taken after
    // deviceMutex_ when both are held.
    mutable std::mutex mutex_;
    std::shared_ptr<CDetector> detector_;
    std::stop_source stopSource_;
    std::optional<std::string> expectedSerial_;
    std::optional<std::string> usbId_;
    std::optional<bool> notedStatus_; // the connection state not posted yet
    bool postingStatus_ = false;      // a thread is in postNotedStatus's loop
    std::shared_ptr<std::thread> connectionThread_;

    // Read by the dialog's thread without waiting for an open in progress.
    std::atomic<const void*> moduleAnchor_{nullptr};
    std::atomic<bool> idle_{true};
    std::atomic<bool> paused_{false};
    std::atomic<bool> failureSeen_{false};
    std::atomic<std::uint8_t> status_{kStatusStarting};
    std::atomic<bool> threadActive_{false};

    // Guards its own window; the holder it publishes lives on the connection thread.
    const std::shared_ptr<UsbListener> usbListener_;
};
