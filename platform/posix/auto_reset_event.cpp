// Linux: a flag guarded by a mutex, with a condition variable for the waiters.
#include "platform/auto_reset_event.h"

#include <condition_variable>
#include <mutex>

namespace platform {

struct AutoResetEvent::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool signalled = false; // guarded by mutex
};

AutoResetEvent::AutoResetEvent() : state_(std::make_unique<State>()) {}

AutoResetEvent::~AutoResetEvent() = default;

void AutoResetEvent::set() {
    {
        std::lock_guard lock(state_->mutex);
        state_->signalled = true;
    }
    state_->changed.notify_one();
}

void AutoResetEvent::reset() {
    std::lock_guard lock(state_->mutex);
    state_->signalled = false;
}

bool AutoResetEvent::wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    if (timeout.count() < 0) {
        timeout = std::chrono::milliseconds(0);
    }
    if (!state_->changed.wait_for(lock, timeout, [this] { return state_->signalled; })) {
        return false;
    }
    state_->signalled = false;
    return true;
}

} // namespace platform
