// Linux: applications have no window to give and no messages to pass; the source is asked in turn.
#include "platform/app_window.h"

#include <thread>

namespace platform {

NativeWindow createApplicationWindow(const std::string&) {
    return 0;
}

void destroyApplicationWindow(NativeWindow) {}

void turnApplicationMessages(NativeWindow, const std::function<bool(void* message)>& offer,
                             std::chrono::milliseconds wait) {
    offer(nullptr);
    std::this_thread::sleep_for(wait);
}

} // namespace platform
