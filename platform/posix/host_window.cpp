#include "platform/host_window.h"

#include <cstdlib>
#include <mutex>
#include <set>

namespace platform {

namespace {

// Windows left disabled through enableWindow; `disabledMutex` guards the set.
std::mutex disabledMutex;
std::set<NativeWindow>& disabledWindows() {
    static std::set<NativeWindow> windows;
    return windows;
}

bool variableSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

} // namespace

void addChildStyle(NativeWindow) {}

bool setNativeParent(NativeWindow, NativeWindow) {
    return false;
}

void enableWindow(NativeWindow window, bool enable) {
    std::lock_guard lock(disabledMutex);
    if (enable) {
        disabledWindows().erase(window);
    } else {
        disabledWindows().insert(window);
    }
}

bool windowEnabled(NativeWindow window) {
    std::lock_guard lock(disabledMutex);
    return disabledWindows().count(window) == 0;
}

bool applicationsTurnSourceEvents() {
    return false;
}

bool displayAvailable() {
    return variableSet("DISPLAY") || variableSet("WAYLAND_DISPLAY");
}

} // namespace platform
