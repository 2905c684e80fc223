#include "device/work_folders.h"

#include "platform/app_data.h"
#include "platform/module.h"
#include "support/log.h"

#include <algorithm>
#include <cctype>

namespace fs = std::filesystem;

namespace {

std::error_code copyTree(const fs::path& from, const fs::path& to, fs::copy_options options) {
    std::error_code first;
    const auto note = [&first](const std::error_code& ec) {
        if (ec && !first) {
            first = ec;
        }
    };
    std::error_code ec;
    if (!fs::is_directory(from, ec)) {
        note(ec ? ec : std::make_error_code(std::errc::not_a_directory));
        return first;
    }
    fs::create_directories(to, ec);
    note(ec);
    fs::recursive_directory_iterator it(from, ec);
    note(ec);
    for (const fs::recursive_directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code entryError;
        const fs::path target = to / it->path().lexically_relative(from);
        // A link may lead anywhere (another sensor's folder, a patient's files): it is not followed.
        if (it->is_symlink(entryError) || entryError) {
            note(entryError);
            continue;
        }
        if (it->is_directory(entryError)) {
            fs::create_directories(target, entryError);
        } else if (!entryError && it->is_regular_file(entryError)) {
            fs::copy_file(it->path(), target, options, entryError);
        }
        note(entryError);
    }
    note(ec);
    return first;
}

// Windows takes these names as devices, whatever follows the first dot: "CON", "nul.txt", "Com1.x".
bool isDeviceName(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.remove_suffix(1);
    }
    std::string upper;
    for (const char c : base) {
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL") {
        return true;
    }
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '1' &&
           upper[3] <= '9';
}

} // namespace

std::optional<fs::path> workRootFolder() {
    const auto appData = platform::localAppDataFolder();
    if (!appData) {
        return std::nullopt;
    }
    return *appData / "vanto_sensor" / "work_dir";
}

bool isSafeFolderName(std::string_view name) {
    if (name.empty() || name.size() > 255 || name == "." || name == "..") {
        return false;
    }
    if (name.back() == '.' || name.back() == ' ') {
        return false;
    }
    if (isDeviceName(name)) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?' ||
               c == '"' || c == '<' || c == '>' || c == '|';
    });
}

std::optional<std::string> acceptedSerial(const std::optional<std::string>& serial) {
    if (!serial || serial->empty()) {
        return std::nullopt;
    }
    if (isSafeFolderName(*serial)) {
        return serial;
    }
    // The refused text is logged with its control characters masked, so that it stays one line.
    std::string shown = *serial;
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, '?');
    writeString("Refused serial number: \"" + shown + "\"");
    return std::nullopt;
}

std::error_code copyFolder(const fs::path& from, const fs::path& to) {
    return copyTree(from, to, fs::copy_options::overwrite_existing);
}

std::error_code copyMissing(const fs::path& from, const fs::path& to) {
    return copyTree(from, to, fs::copy_options::skip_existing);
}

void installProductFolders(const fs::path& workRoot) {
    const auto driver = platform::driverFolder();
    if (!driver) {
        return;
    }
    for (const char* name : kProductFolderNames) {
        std::error_code ec;
        if (fs::is_directory(*driver / name, ec)) {
            copyTree(*driver / name, workRoot / name, fs::copy_options::update_existing);
        }
    }
}
