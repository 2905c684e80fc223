#include "platform/sdk_text.h"

namespace platform {

std::optional<std::string> pathForSdk(const std::filesystem::path& path) {
    return path.generic_string();
}

std::filesystem::path pathFromSdk(const char* text) {
    return std::filesystem::path(text != nullptr ? text : "");
}

} // namespace platform
