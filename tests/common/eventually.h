// Waiting in tests for what another thread or process brings about, always within a bound.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testenv {

// Polls `condition` until it holds or the bound passes; a fault then fails the test instead of
// hanging it.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds bound = std::chrono::seconds(30)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace testenv
