#include "support/log.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path logFile() {
    return testenv::appDataFolder() / "vanto_sensor" / "ds.log";
}

std::vector<std::string> logLines() {
    std::ifstream in(logFile());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class Log : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(logFile().parent_path()); }
};

TEST(LogWithoutFolder, RecordsAreLostUntilTheFolderExists) {
    writeString("lost");
    EXPECT_FALSE(fs::exists(logFile()));
    EXPECT_EQ(logFilePathIfKnown(), logFile());

    fs::create_directories(logFile().parent_path());
    writeString("kept");
    EXPECT_EQ(logLines(), std::vector<std::string>{"kept"});
}

TEST_F(Log, WritersAppendLinesInOrder) {
    writeString("first");
    writeString("");
    writeString2("second");
    writeTwoString("A", "B");
    writeLog([](std::ofstream& out) { out << "width: " << 1000 << std::endl << "code " << -6 << std::endl; });
    const std::vector<std::string> expected{"first", "", "second", "A", "B", "width: 1000", "code -6"};
    EXPECT_EQ(logLines(), expected);
}

TEST_F(Log, EmptyWriterAddsNothing) {
    writeLog(LogWriter{});
    writeLog([](std::ofstream&) {});
    EXPECT_EQ(fs::file_size(logFile()), 0u);
}

TEST_F(Log, FileIsEmptiedOnlyOnceItReachesTheLimit) {
    struct Case {
        std::uintmax_t size;
        bool emptied;
    };
    for (const Case c :
         {Case{kLogSizeLimit - 1, false}, Case{kLogSizeLimit, true}, Case{kLogSizeLimit + 7, true}}) {
        fs::remove(logFile());
        { std::ofstream(logFile()).close(); }
        fs::resize_file(logFile(), c.size);
        writeString("next");
        const auto size = fs::file_size(logFile());
        if (c.emptied) {
            EXPECT_EQ(size, 5u) << c.size;
        } else {
            EXPECT_EQ(size, c.size + 5) << c.size;
        }
    }
}

TEST_F(Log, ConcurrentWritersLoseNoLineAndComputeThePathOnce) {
    constexpr int threads = 8;
    constexpr int perThread = 200;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) {
                writeString("thread " + std::to_string(t) + " line " + std::to_string(i));
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(threads * perThread));
    const std::set<std::string> unique(lines.begin(), lines.end());
    EXPECT_EQ(unique.size(), lines.size());
}

} // namespace
