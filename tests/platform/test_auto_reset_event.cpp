// The auto-reset event behind the device layer's awaited commands.
#include "platform/auto_reset_event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(AutoResetEvent, OneSetLetsExactlyOneWaitThrough) {
    platform::AutoResetEvent event;
    EXPECT_FALSE(event.wait(0ms));
    event.set();
    event.set(); // setting twice still lets only one wait through
    EXPECT_TRUE(event.wait(0ms));
    EXPECT_FALSE(event.wait(10ms));
}

TEST(AutoResetEvent, ResetTakesBackASignal) {
    platform::AutoResetEvent event;
    event.set();
    event.reset();
    EXPECT_FALSE(event.wait(10ms));
    EXPECT_FALSE(event.wait(-5ms));
}

TEST(AutoResetEvent, SetFromAnotherThreadWakesTheWaiter) {
    platform::AutoResetEvent event;
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        event.set();
    });
    EXPECT_TRUE(event.wait(10s));
    setter.join();
}

TEST(AutoResetEvent, EachSetReleasesOneOfSeveralWaiters) {
    platform::AutoResetEvent event;
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (event.wait(10s)) {
                ++released;
            }
        });
    }
    for (int i = 0; i < 3; ++i) {
        event.set();
        // Within a bound: a set that releases nobody fails here instead of spinning for ever.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (released.load() != i + 1 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        if (released.load() != i + 1) {
            ADD_FAILURE() << "set " << i + 1 << " released " << released.load() - i << " waiters";
            break; // the waiters left give up on their own
        }
    }
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(released.load(), 3);
    EXPECT_FALSE(event.wait(0ms));
}

} // namespace
