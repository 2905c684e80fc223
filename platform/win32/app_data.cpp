// Windows: the shell's local application-data folder (CSIDL_LOCAL_APPDATA, created if missing).
#include "platform/app_data.h"

#include <windows.h>

#include <shlobj.h>

namespace platform {

std::optional<std::filesystem::path> localAppDataFolder() {
    wchar_t folder[MAX_PATH] = {};
    // 0x801C: CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE; no owner window, no token, the current path.
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, folder)) ||
        folder[0] == L'\0') {
        return std::nullopt;
    }
    return std::filesystem::path(folder);
}

} // namespace platform
