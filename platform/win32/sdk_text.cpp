// Windows: WideCharToMultiByte / MultiByteToWideChar with the active code page (CP_ACP), and
// GetShortPathNameW for a path the code page cannot hold.
#include "platform/sdk_text.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {

// `wide` in the active code page; none when a character has no exact form there.
std::optional<std::string> inCodePage(const std::wstring& wide) {
    if (wide.empty()) {
        return std::string();
    }
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                           static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
    if (length <= 0 || usedDefault) {
        return std::nullopt;
    }
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        narrow.data(), length, nullptr, &usedDefault);
    if (usedDefault) {
        return std::nullopt;
    }
    return narrow;
}

std::wstring withSlashes(std::wstring text) {
    for (auto& c : text) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return text;
}

} // namespace

std::optional<std::string> pathForSdk(const std::filesystem::path& path) {
    if (auto text = inCodePage(withSlashes(path.wstring()))) {
        return text;
    }
    const std::wstring full = path.wstring();
    const DWORD needed = GetShortPathNameW(full.c_str(), nullptr, 0);
    if (needed == 0) {
        return std::nullopt;
    }
    std::vector<wchar_t> buffer(needed + 1, L'\0');
    const DWORD length = GetShortPathNameW(full.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return std::nullopt;
    }
    return inCodePage(withSlashes(std::wstring(buffer.data(), length)));
}

std::filesystem::path pathFromSdk(const char* text) {
    if (text == nullptr || *text == '\0') {
        return {};
    }
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return std::filesystem::path(wide);
}

} // namespace platform
