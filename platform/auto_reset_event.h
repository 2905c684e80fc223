// An auto-reset event: set() lets exactly one wait() through and the event is unsignalled again.
// Safe to use from any number of threads.
#pragma once

#include <chrono>
#include <memory>

namespace platform {

class AutoResetEvent {
public:
    // Created unsignalled.
    AutoResetEvent();
    ~AutoResetEvent();
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    // Signals the event; one waiter (the current one or the next to come) is released. Setting an
    // already signalled event changes nothing.
    void set();

    // Unsignals the event.
    void reset();

    // Waits until the event is signalled or the time-out has passed. Returns true, and leaves the
    // event unsignalled, when it was signalled; false on time-out.
    bool wait(std::chrono::milliseconds timeout);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace platform
