// Parsing of the ostra-acquire command line.
#include "host/options.h"

#include <algorithm>
#include <charconv>
#include <sstream>

namespace host {

namespace {

bool parseRows(const std::string& text, unsigned& rows) {
    const char* end = text.data() + text.size();
    auto [next, ec] = std::from_chars(text.data(), end, rows);
    return ec == std::errc() && next == end && rows >= 1 && rows <= 100000;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::optional<std::vector<DemoStep>> parseSteps(const std::string& text, std::string& error) {
    std::vector<DemoStep> steps;
    std::istringstream list(text);
    for (std::string item; std::getline(list, item, ',');) {
        std::istringstream words(trimmed(item));
        std::string word;
        words >> word;
        DemoStep step;
        if (word == "expose") {
            step.kind = DemoStep::Kind::expose;
        } else if (word == "retake") {
            step.kind = DemoStep::Kind::retake;
            std::string number;
            words >> number;
            const char* end = number.data() + number.size();
            auto [next, ec] = std::from_chars(number.data(), end, step.tile);
            if (number.empty() || ec != std::errc() || next != end || step.tile < 1) {
                error = "--steps: retake takes a tile number from 1, not \"" + number + "\"";
                return std::nullopt;
            }
        } else if (word == "unplug") {
            step.kind = DemoStep::Kind::unplug;
        } else if (word == "plug") {
            step.kind = DemoStep::Kind::plug;
        } else if (word == "save") {
            step.kind = DemoStep::Kind::save;
        } else if (word == "esc") {
            step.kind = DemoStep::Kind::esc;
        } else if (word == "close") {
            step.kind = DemoStep::Kind::close;
        } else if (word == "autosave") {
            step.kind = DemoStep::Kind::autosave;
        } else {
            error = "--steps: unknown step \"" + trimmed(item) + "\"";
            return std::nullopt;
        }
        if (std::string rest; words >> rest) {
            error = "--steps: unknown step \"" + trimmed(item) + "\"";
            return std::nullopt;
        }
        steps.push_back(step);
    }
    const auto ending = [](const DemoStep& step) {
        return step.kind == DemoStep::Kind::save || step.kind == DemoStep::Kind::esc ||
               step.kind == DemoStep::Kind::close;
    };
    const auto endings = std::count_if(steps.begin(), steps.end(), ending);
    const bool autoSave = std::any_of(steps.begin(), steps.end(), [](const DemoStep& step) {
        return step.kind == DemoStep::Kind::autosave;
    });
    const bool endsWell =
        !steps.empty() &&
        (ending(steps.back()) ? endings == 1
                              : autoSave && endings == 0 && steps.back().kind == DemoStep::Kind::expose);
    if (!endsWell) {
        error = "--steps ends with save, esc or close, and saves once";
        return std::nullopt;
    }
    return steps;
}

ParsedOptions parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        const auto value = [&]() -> const std::string* {
            return i + 1 < arguments.size() ? &arguments[++i] : nullptr;
        };
        const auto missing = [&] { return ParsedOptions{std::nullopt, name + " needs a value"}; };
        if (name == "-h" || name == "--help") {
            options.help = true;
        } else if (name == "--list") {
            options.list = true;
        } else if (name == "--source") {
            const std::string* v = value();
            if (v == nullptr || v->empty()) {
                return missing();
            }
            options.source = *v;
        } else if (name == "--xfer") {
            const std::string* v = value();
            if (v == nullptr) {
                return missing();
            }
            if (*v == "native") {
                options.mechanism = Mechanism::native;
            } else if (*v == "memory") {
                options.mechanism = Mechanism::memory;
            } else {
                return {std::nullopt, "--xfer takes native or memory, not \"" + *v + "\""};
            }
        } else if (name == "--buffer-rows") {
            const std::string* v = value();
            if (v == nullptr) {
                return missing();
            }
            unsigned rows = 0;
            if (!parseRows(*v, rows)) {
                return {std::nullopt,
                        "--buffer-rows takes a number of rows from 1 to 100000, not \"" + *v + "\""};
            }
            options.bufferRows = rows;
        } else if (name == "--events") {
            const std::string* v = value();
            if (v == nullptr) {
                return missing();
            }
            if (*v == "callback") {
                options.events = EventStyle::callback;
            } else if (*v == "process") {
                options.events = EventStyle::process;
            } else {
                return {std::nullopt, "--events takes callback or process, not \"" + *v + "\""};
            }
        } else if (name == "--new-sensor") {
            options.newSensor = true;
        } else if (name == "--refuse-first-xferready") {
            options.refuseFirstXferReady = true;
        } else if (name == "--in-callback") {
            const std::string* v = value();
            if (v == nullptr) {
                return missing();
            }
            if (*v == "all") {
                options.inCallback = InCallback::all;
            } else if (*v == "transfers") {
                options.inCallback = InCallback::transfers;
            } else {
                return {std::nullopt, "--in-callback takes all or transfers, not \"" + *v + "\""};
            }
        } else if (name == "--steps") {
            const std::string* v = value();
            if (v == nullptr || v->empty()) {
                return missing();
            }
            std::string error;
            options.steps = parseSteps(*v, error);
            if (!options.steps) {
                return {std::nullopt, error};
            }
        } else if (name == "--out" || name == "--dsm" || name == "--screenshot" || name == "--demo" ||
                   name == "--demo-folder") {
            const std::string* v = value();
            if (v == nullptr || v->empty()) {
                return missing();
            }
            if (name == "--out") {
                options.out = *v;
            } else if (name == "--dsm") {
                options.dsm = *v;
            } else if (name == "--screenshot") {
                options.screenshot = *v;
            } else if (name == "--demo-folder") {
                options.demoFolder = *v;
            } else {
                options.demo = *v;
            }
        } else {
            return {std::nullopt, "unknown option \"" + name + "\""};
        }
    }
    if (options.bufferRows && options.mechanism != Mechanism::memory) {
        return {std::nullopt, "--buffer-rows goes with --xfer memory"};
    }
    for (const auto& [given, name] : {std::pair{options.screenshot.has_value(), "--screenshot"},
                                      std::pair{options.steps.has_value(), "--steps"},
                                      std::pair{options.demoFolder.has_value(), "--demo-folder"},
                                      std::pair{options.newSensor, "--new-sensor"},
                                      std::pair{options.refuseFirstXferReady, "--refuse-first-xferready"}}) {
        if (given && !options.demo) {
            return {std::nullopt, std::string(name) + " goes with --demo"};
        }
    }
    return {options, {}};
}

std::string usageText() {
    return "Usage: ostra-acquire [options]\n"
           "Acquires images from a TWAIN data source and saves them as files.\n"
           "\n"
           "  --list                  list the data sources the DSM finds, then stop\n"
           "  --source NAME           the data source to open (default \"Vanto Sensor Twain\")\n"
           "  --xfer native|memory    transfer mechanism (default native: .bmp files; memory: .png files)\n"
           "  --buffer-rows N         rows per memory-transfer buffer (default: the source's preference)\n"
           "  --events callback|process\n"
           "                          wait for the source's notifications through a DSM callback (default)\n"
           "                          or by sending every event with MSG_PROCESSEVENT (the dialog then\n"
           "                          turns inside those calls, on this program's thread)\n"
           "  --out DIR               folder for the images (default: the current folder)\n"
           "  --dsm PATH              the DSM library to load (default: the one built with this program)\n"
           "  --demo TEMPLATE         scripted acquisition of a series on a simulated sensor, in a folder\n"
           "                          of its own (TEMPLATE: \"Single Image\", Biteswing, Checkup,\n"
           "                          \"Endo Horizontal\", \"Full Mouth 18\", \"Full Mouth 21\", \"Vertical "
           "Endo\")\n"
           "  --screenshot FILE       with --demo: the dialog as a PNG, just before Save\n"
           "  --steps LIST            with --demo: the user's steps instead of one exposure per tile and\n"
           "                          Save, separated by commas: expose (one exposure, waited for until\n"
           "                          its tile shows it), retake N (select tile N, press Re-take), unplug\n"
           "                          and plug (the sensor, waited for until the dialog shows it),\n"
           "                          autosave (Auto Save on: the last tile's exposure saves), and last,\n"
           "                          once: save, esc (the Escape key) or close (the window's close\n"
           "                          button); e.g. \"expose,expose,retake 1,expose,expose,expose,save\"\n"
           "  --demo-folder DIR       with --demo: the demo's folder, kept; a later run in the same folder\n"
           "                          finds the sensor and its settings again (default: a new folder)\n"
           "  --new-sensor            with --demo: the sensor is new to this machine; the dialog asks for\n"
           "                          its corrections and is given its calibration disk\n"
           "  --in-callback all|transfers\n"
           "                          work from inside the source's notification, as some applications\n"
           "                          do: all: transfer, disable and close inside MSG_XFERREADY;\n"
           "                          transfers: transfer there, disable and close inside\n"
           "                          MSG_CLOSEDSREQ (a close request always disables and closes there)\n"

           "  -h, --help              this text\n"
           "\n"
           "Test option (with the stand-in DSM only):\n"
           "  --refuse-first-xferready\n"
           "                          with --demo: the DSM refuses the source's first MSG_XFERREADY; the\n"
           "                          dialog must show again, and Save is pressed a second time\n";
}

} // namespace host
