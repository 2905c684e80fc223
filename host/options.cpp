// Parsing of the ostra-acquire command line.
#include "host/options.h"

#include <charconv>

namespace host {

namespace {

bool parseRows(const std::string& text, unsigned& rows) {
    const char* end = text.data() + text.size();
    auto [next, ec] = std::from_chars(text.data(), end, rows);
    return ec == std::errc() && next == end && rows >= 1 && rows <= 100000;
}

} // namespace

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
        } else if (name == "--out" || name == "--dsm" || name == "--screenshot" || name == "--demo") {
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
    if (options.screenshot && !options.demo) {
        return {std::nullopt, "--screenshot goes with --demo"};
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
           "                          or by sending every event with MSG_PROCESSEVENT\n"
           "  --out DIR               folder for the images (default: the current folder)\n"
           "  --dsm PATH              the DSM library to load (default: the one built with this program)\n"
           "  --demo TEMPLATE         scripted acquisition of a series on a simulated sensor, in a folder\n"
           "                          of its own (TEMPLATE: \"Single Image\", Biteswing, Checkup,\n"
           "                          \"Endo Horizontal\", \"Full Mouth 18\", \"Full Mouth 21\", \"Vertical "
           "Endo\")\n"
           "  --screenshot FILE       with --demo: the dialog as a PNG, once every tile is exposed\n"
           "  -h, --help              this text\n";
}

} // namespace host
