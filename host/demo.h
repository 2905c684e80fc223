// The scripted acquisition on a simulated sensor: a private application-data folder and sensor bus,
// a known sensor with its corrections, and the dialog driven as a user would.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "host/options.h"

namespace host {

// Index of a series template in the dialog's chooser, matched without regard to case, spaces or
// dashes ("Full Mouth 18", "fullmouth18"); none when no template has that name.
std::optional<int> findTemplate(const std::string& name);
int templateTiles(int index);
std::string templateName(int index);

struct DemoFolders {
    std::filesystem::path root;
    std::filesystem::path appData;
    std::filesystem::path bus;
    // The sensor's calibration disk: its own correction files.
    std::filesystem::path calibrationDisk;
};

// One exposure per tile, then Save.
std::vector<DemoStep> defaultSteps(int tiles);

// Points $XDG_DATA_HOME and $OSTRA_SENSOR_BUS into the demo's folder (before the source is loaded):
// `folder`, kept from an earlier run or made, else a new folder under the system's temporary
// folder. Plugs the simulated sensor unless it is plugged. Unless `newSensor`, lays its work folder
// and corrections out as a technician would have installed them, when they are not there yet.
// `productFolders` holds the product folders (DS1, DS2) beside the data source. Returns an error
// text, empty on success.
std::string prepareDemo(const std::filesystem::path& productFolders,
                        const std::optional<std::filesystem::path>& folder, bool newSensor,
                        DemoFolders& folders);

// What a run of steps needs besides the steps.
struct DemoRun {
    int tiles = 0;
    std::optional<std::filesystem::path> screenshot;
    // Set: the DSM refuses the first MSG_XFERREADY; called with false before the second Save.
    std::function<void(bool)> refuseXferReady;
};

// Drives the enabled source's dialog from the application's thread.
class DemoDriver {
public:
    DemoDriver(const DemoFolders& folders, const std::atomic<bool>& stop) : folders_(folders), stop_(stop) {}

    // What the driver does while it waits for the dialog: by default it sleeps (the dialog's events
    // turn elsewhere); an application whose message loop turns them passes one turn of that loop.
    void setIdle(std::function<void()> idle) { idle_ = std::move(idle); }

    // Each returns an error text, empty on success.
    std::string waitForDialog();
    std::string chooseTemplate(int index);
    // Answers the dialog's question for the corrections with the sensor's calibration disk.
    std::string answerCorrections(std::ostream& out);
    // The steps as a user takes them, one line each on `out`; each waited for until the dialog
    // shows its effect.
    std::string runSteps(const std::vector<DemoStep>& steps, const DemoRun& run, std::ostream& out);

private:
    bool eventually(const std::function<bool()>& condition, std::chrono::seconds timeout);
    std::string waitForConnection(bool connected);
    std::string expose(int exposure, int exposures, std::ostream& out);
    std::string retake(int tile, int tiles, std::ostream& out);
    std::string save(const DemoRun& run, std::ostream& out);
    std::string turnAutoSaveOn(std::ostream& out);
    // Esc (`escape`) or the window's close button; a question whether to close is answered yes.
    std::string closeDialog(bool escape, std::ostream& out);
    std::string screenshot(const std::filesystem::path& file);

    DemoFolders folders_;
    const std::atomic<bool>& stop_;
    // Auto Save was turned on.
    bool autoSave_ = false;
    std::function<void()> idle_;
};

} // namespace host
