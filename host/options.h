// The command line of ostra-acquire.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace host {

enum class Mechanism { native, memory };
enum class EventStyle { callback, process };
// What the application does from inside the source's notification, before it returns: nothing (it
// records the notification and acts later), everything (the transfers, then disable and close, in
// MSG_XFERREADY's), or the transfers there and the disable and close in MSG_CLOSEDSREQ's. Either way
// a close request disables and closes from inside its own notification.
enum class InCallback { nothing, all, transfers };

// One step of a scripted acquisition.
struct DemoStep {
    // save, esc (the Escape key) and close (the window's close button) end the steps; autosave turns
    // Auto Save on, and the exposure that fills the last tile then saves.
    enum class Kind { expose, retake, unplug, plug, save, esc, close, autosave };
    Kind kind = Kind::expose;
    // retake: the tile's number, from 1.
    int tile = 0;
    friend bool operator==(const DemoStep&, const DemoStep&) = default;
};

struct Options {
    bool help = false;
    bool list = false;
    std::string source = "Vanto Sensor Twain";
    Mechanism mechanism = Mechanism::native;
    // Rows per memory-transfer buffer; none: the size the source prefers.
    std::optional<unsigned> bufferRows;
    EventStyle events = EventStyle::callback;
    std::optional<std::filesystem::path> out;
    std::optional<std::filesystem::path> dsm;
    // The template of a scripted acquisition on a simulated sensor.
    std::optional<std::string> demo;
    std::optional<std::filesystem::path> screenshot;
    // The demo's steps; none: one exposure per tile, then Save.
    std::optional<std::vector<DemoStep>> steps;
    // The demo's folder; none: a new one under the temporary folder.
    std::optional<std::filesystem::path> demoFolder;
    // The demo's sensor is new to the machine: its corrections come through the dialog.
    bool newSensor = false;
    // Test option: the stand-in DSM refuses the source's first MSG_XFERREADY.
    bool refuseFirstXferReady = false;
    InCallback inCallback = InCallback::nothing;
};

// The options, or the reason the command line is refused.
struct ParsedOptions {
    std::optional<Options> options;
    std::string error;
};

ParsedOptions parseOptions(const std::vector<std::string>& arguments);

// The steps of --steps ("expose,expose,retake 1,expose,unplug,plug,expose,save"), or the reason
// they are refused in `error`. One of save, esc and close comes once, last; with autosave among the
// steps, the steps may instead end with the exposure that saves.
std::optional<std::vector<DemoStep>> parseSteps(const std::string& text, std::string& error);

std::string usageText();

} // namespace host
