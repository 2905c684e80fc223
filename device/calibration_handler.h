// CalibrartionHandler: what the acquisition dialog may ask of the device layer when the sensor's
// correction files are missing. DeviceStatus implements it; the dialog holds it as a shared pointer
// and calls it on the application's thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

class CalibrartionHandler {
public:
    virtual ~CalibrartionHandler() = default;

    // The user gave up loading correction files: the failure is marked as seen and the dialog shows
    // the disconnected state. Returns whether the dialog was told.
    virtual bool acknowledgeStatus() = 0;
    // Opens the sensor again from its current work folder (after correction files were copied in);
    // true when it started.
    virtual bool reinitDevice() = 0;
    // The folder the detector was opened on; its "Correct/Default" holds the correction files.
    virtual std::filesystem::path currentWorkFolder() = 0;
    // The serial number that names the sensor's work folder, when known.
    virtual std::optional<std::string> serialNumber() = 0;
    // Applying the corrections failed and the user has not given up yet.
    virtual bool correctionFailed() = 0;
    // Suspend and resume the connection thread's start-up attempts around the exchange.
    virtual void pauseConnection() = 0;
    virtual void resumeConnection() = 0;

protected:
    CalibrartionHandler() = default;
    CalibrartionHandler(const CalibrartionHandler&) = default;
    CalibrartionHandler& operator=(const CalibrartionHandler&) = default;
};
