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
};

// Makes a new folder under the system's temporary folder, points $XDG_DATA_HOME and
// $OSTRA_SENSOR_BUS into it (before the source is loaded), plugs a simulated sensor and lays its
// work folder and corrections out as a technician would have installed them. `productFolders` holds
// the product folders (DS1, DS2) beside the data source. Returns an error text, empty on success.
std::string prepareDemo(const std::filesystem::path& productFolders, DemoFolders& folders);

// Drives the enabled source's dialog from the application's thread.
class DemoDriver {
public:
    DemoDriver(const DemoFolders& folders, const std::atomic<bool>& stop) : folders_(folders), stop_(stop) {}

    // Each returns an error text, empty on success.
    std::string waitForDialog();
    std::string chooseTemplate(int index);
    // One exposure per tile, each waited for until its tile shows it, with a line on `out`.
    std::string exposeTiles(int count, std::ostream& out);
    std::string screenshot(const std::filesystem::path& file);
    std::string save();

private:
    bool eventually(const std::function<bool()>& condition, std::chrono::seconds timeout);

    DemoFolders folders_;
    const std::atomic<bool>& stop_;
};

} // namespace host
