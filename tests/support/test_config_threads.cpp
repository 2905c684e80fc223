// Writers on several threads (the dialog, the connection thread) and a reader that bypasses the
// process's own lock, as another process would; run under the thread sanitizer.
#include "support/config_file.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(ConfigThreads, ConcurrentUpdatesLoseNothingAndTheFileIsAlwaysWhole) {
    ConfigFile start;
    start.auto_save_enabled = true;
    writeConfigFile(start);

    constexpr int writers = 4;
    constexpr int perWriter = 25;
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};

    std::thread outsider([&] {
        while (!done) {
            const auto json = nlohmann::json::parse(appfiles::read(), nullptr, false);
            if (json.is_discarded() || !json.value("auto_save_enabled", false)) {
                ++torn;
            }
        }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < writers; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < perWriter; ++i) {
                const std::string serial = "SN-" + std::to_string(t) + "-" + std::to_string(i);
                updateConfigFile([&](ConfigFile& c) {
                    c.previous_serial_numbers.insert(serial);
                    c.last_serial_number = serial;
                });
                (void)readConfigFile();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    done = true;
    outsider.join();

    EXPECT_EQ(torn, 0);
    const ConfigFile end = readConfigFile();
    EXPECT_TRUE(end.auto_save_enabled);
    EXPECT_EQ(end.previous_serial_numbers.size(), static_cast<std::size_t>(writers * perWriter));
}

} // namespace
