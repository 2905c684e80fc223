#include "sensor-sim/corrections.h"

#include <fstream>

namespace sensorbus {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSerialKey = "serial=";

bool writeFile(const fs::path& path, std::string_view title, std::string_view serial) {
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    out << title << '\n' << kSerialKey << serial << '\n';
    out.close();
    return !out.fail();
}

} // namespace

fs::path correctionsFolder(const fs::path& busFolder, std::string_view serial) {
    return busFolder / "corrections" / std::string(serial);
}

bool writeCorrectionFiles(const fs::path& folder, std::string_view serial) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string name(serial);
    return writeFile(folder / (name + ".dft"), "Ostra dark field correction", serial) &&
           writeFile(folder / (name + ".gn"), "Ostra gain correction", serial);
}

std::optional<std::string> correctionFileSerial(const fs::path& file) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (line.compare(0, kSerialKey.size(), kSerialKey) == 0) {
            return line.substr(kSerialKey.size());
        }
    }
    return std::nullopt;
}

bool holdsCorrectionFilesFor(const fs::path& folder, std::string_view serial) {
    bool offset = false;
    bool gain = false;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) {
            continue;
        }
        const auto extension = it->path().extension();
        if (extension != ".dft" && extension != ".gn") {
            continue;
        }
        const auto named = correctionFileSerial(it->path());
        if (named && *named != serial) {
            continue;
        }
        offset = offset || extension == ".dft";
        gain = gain || extension == ".gn";
    }
    return offset && gain;
}

} // namespace sensorbus
