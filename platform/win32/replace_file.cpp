// Windows: MoveFileExW replacing the target, flushed through to the disk before it returns.
#include "platform/replace_file.h"

#include <windows.h>

namespace platform {

std::error_code replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return std::error_code(static_cast<int>(GetLastError()), std::system_category());
    }
    return {};
}

} // namespace platform
