#include "platform/host_window.h"

#include <cstdlib>
#include <mutex>
#include <set>
#include <string>

namespace platform {

namespace {

// How the application passes the source's events (see host_window.h).
constexpr const char* kEventsVariable = "OSTRA_TWAIN_EVENTS";

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

bool applicationsTurnSourceEvents(std::string* ignored) {
    const char* value = std::getenv(kEventsVariable);
    if (value == nullptr || value[0] == '\0') {
        return false;
    }
    const std::string chosen = value;
    if (chosen == "process") {
        return true;
    }
    if (chosen != "callback" && ignored != nullptr) {
        *ignored = chosen;
    }
    return false;
}

void announceApplicationTurnsSourceEvents() {
    setenv(kEventsVariable, "process", 1);
}

bool displayAvailable() {
    return variableSet("DISPLAY") || variableSet("WAYLAND_DISPLAY");
}

} // namespace platform
