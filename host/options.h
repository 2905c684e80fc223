// The command line of ostra-acquire.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace host {

enum class Mechanism { native, memory };
enum class EventStyle { callback, process };

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
};

// The options, or the reason the command line is refused.
struct ParsedOptions {
    std::optional<Options> options;
    std::string error;
};

ParsedOptions parseOptions(const std::vector<std::string>& arguments);

std::string usageText();

} // namespace host
