#include "platform/host_window.h"

#include <windows.h>

namespace platform {

namespace {

HWND handle(NativeWindow window) {
    return reinterpret_cast<HWND>(window);
}

} // namespace

void addChildStyle(NativeWindow window) {
    const LONG style = GetWindowLongW(handle(window), GWL_STYLE);
    SetWindowLongW(handle(window), GWL_STYLE, style | 0x40000000L);
}

bool setNativeParent(NativeWindow window, NativeWindow parent) {
    SetParent(handle(window), handle(parent));
    return true;
}

void enableWindow(NativeWindow window, bool enable) {
    EnableWindow(handle(window), enable ? TRUE : FALSE);
}

bool windowEnabled(NativeWindow window) {
    return IsWindowEnabled(handle(window)) != FALSE;
}

bool applicationsTurnSourceEvents(std::string*) {
    return true;
}

void announceApplicationTurnsSourceEvents() {}

bool displayAvailable() {
    return true;
}

} // namespace platform
