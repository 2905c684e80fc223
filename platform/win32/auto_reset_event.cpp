// Windows: an auto-reset event object; the kernel serialises set, reset and the waits.
#include "platform/auto_reset_event.h"

#include <windows.h>

#include <stdexcept>

namespace platform {

struct AutoResetEvent::State {
    HANDLE event = nullptr;
};

AutoResetEvent::AutoResetEvent() : state_(std::make_unique<State>()) {
    // Auto-reset (bManualReset FALSE), unsignalled, unnamed.
    state_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (state_->event == nullptr) {
        throw std::runtime_error("CreateEventW failed");
    }
}

AutoResetEvent::~AutoResetEvent() {
    CloseHandle(state_->event);
}

void AutoResetEvent::set() {
    SetEvent(state_->event);
}

void AutoResetEvent::reset() {
    ResetEvent(state_->event);
}

bool AutoResetEvent::wait(std::chrono::milliseconds timeout) {
    // INFINITE is 0xFFFFFFFF: longer waits are cut just below it.
    const auto count = timeout.count();
    const DWORD ms = count <= 0 ? 0 : count >= 0xFFFFFFFELL ? 0xFFFFFFFEu : static_cast<DWORD>(count);
    return WaitForSingleObject(state_->event, ms) == WAIT_OBJECT_0;
}

} // namespace platform
