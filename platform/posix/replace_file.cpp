// Linux: rename(2) replaces the target atomically.
#include "platform/replace_file.h"

namespace platform {

std::error_code replaceFile(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return ec;
}

} // namespace platform
