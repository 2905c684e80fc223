// Linux: the XDG data folder stands for the local application-data folder.
#include "platform/app_data.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

std::optional<std::filesystem::path> homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return std::filesystem::path(home);
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return std::filesystem::path(entry->pw_dir);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::filesystem::path> localAppDataFolder() {
    std::filesystem::path folder;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        folder = xdg;
    } else if (auto home = homeFolder()) {
        folder = *home / ".local" / "share";
    } else {
        return std::nullopt;
    }

    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        return std::nullopt;
    }
    return folder;
}

} // namespace platform
