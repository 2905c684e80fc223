// The support files on Windows: the log in text mode, config.json replaced whole, and a stack trace
// captured with DbgHelp in the log's frame format.
#include "support/config_file.h"
#include "support/log.h"
#include "support/stack_trace.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WindowsFiles, LogLinesEndWithCrLf) {
    const fs::path folder = testenv::appDataFolder() / "vanto_sensor";
    fs::create_directories(folder);
    writeTwoString("windows log one", "windows log two");
    const std::string text = bytesOf(folder / "ds.log");
    EXPECT_NE(text.find("windows log one\r\nwindows log two\r\n"), std::string::npos);
}

TEST(WindowsFiles, ConfigIsReplacedWholeOrNotAtAll) {
    const fs::path folder = testenv::tempRoot() / "config";
    fs::create_directories(folder);
    const fs::path file = folder / "config.json";
    std::ofstream(file) << "{\"old\":true}\n";

    ConfigFile config;
    config.auto_save_enabled = true;
    writeConfigFileToPath(file, config);
    std::string text = bytesOf(file);
    EXPECT_EQ(text.rfind("{\"auto_save_enabled\":true,", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 3), "}\r\n");

    // A target that cannot be replaced (held open without delete sharing) keeps its old text, and
    // no temporary file stays behind.
    const std::string before = text;
    HANDLE held =
        CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    config.auto_save_enabled = false;
    writeConfigFileToPath(file, config);
    CloseHandle(held);
    EXPECT_EQ(bytesOf(file), before);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder)) {
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

[[gnu::noinline]] std::string traceFromHere() {
    std::string text = stackTrace();
    asm volatile("" ::: "memory"); // keeps this frame from becoming a tail call
    return text;
}

TEST(WindowsStack, TraceHasOneWindowsFrameLinePerFrame) {
    const std::string text = traceFromHere();
    std::istringstream lines(text);
    std::string line;
    int frames = 0;
    // "file(line): function", or a frame without debug information:
    // "(null)(0):  Unkown symbol @ " and the address in upper-case hexadecimal of pointer width.
    const std::regex frame(R"(^.*\(\d+\): (.+|\sUnkown symbol @ [0-9A-F]{)" +
                           std::to_string(2 * sizeof(void*)) + R"(})$)");
    while (std::getline(lines, line)) {
        EXPECT_TRUE(std::regex_match(line, frame)) << line;
        EXPECT_EQ(line.find("StackWalk64 error"), std::string::npos) << text;
        EXPECT_EQ(line.find("Stack overflow"), std::string::npos) << text;
        ++frames;
    }
    EXPECT_GE(frames, 3) << text;
    EXPECT_EQ(text.back(), '\n');
    std::cout << text;
}

} // namespace
