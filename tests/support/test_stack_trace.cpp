#include "support/stack_trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        result.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text does not end with a newline";
    return result;
}

std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof(text), "%0*llX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<unsigned long long>(value));
    return text;
}

// Addresses that belong to no module.
constexpr std::uint64_t kNowhere1 = 0x1230;
constexpr std::uint64_t kNowhere2 = 0x4560;

TEST(FormatStack, TerminatorsEndTheText) {
    struct Case {
        const char* name;
        std::vector<StackFrame> frames;
        std::vector<std::string> expected;
    };
    const std::string unknown1 = "(null)(0):  Unkown symbol @ " + hex(kNowhere1);
    const std::string unknown2 = "(null)(0):  Unkown symbol @ " + hex(kNowhere2);
    const Case cases[] = {
        {"normal end", {{kNowhere1, kNowhere2}, {kNowhere2, 0}}, {unknown1, unknown2}},
        {"walk error",
         {{kNowhere1, kNowhere2}, {kNowhere2, kWalkErrorMark | 998}},
         {unknown1, "StackWalk64 error: 998 @ " + hex(kNowhere2)}},
        {"single frame", {{kNowhere1, 0}}, {unknown1}},
    };
    for (const auto& c : cases) {
        std::vector<StackFrame> frames = c.frames;
        frames.resize(kStackFrameCapacity);
        EXPECT_EQ(lines(formatStack(frames.data())), c.expected) << c.name;
    }
}

TEST(FormatStack, OverflowAfter1023FramesIsCompleteBeyondTheFirstBuffer) {
    StackFrames frames(new StackFrame[kStackFrameCapacity]{});
    for (std::size_t k = 0; k + 1 < kStackFrameCapacity; ++k) {
        frames[k] = StackFrame{kNowhere1 + k, kNowhere1 + k + 1};
    }
    const auto text = lines(formatStack(frames.get()));
    ASSERT_EQ(text.size(), kStackFrameCapacity);
    EXPECT_EQ(text.front(), "(null)(0):  Unkown symbol @ " + hex(kNowhere1));
    EXPECT_EQ(text[1022], "(null)(0):  Unkown symbol @ " + hex(kNowhere1 + 1022));
    EXPECT_EQ(text.back(), "Stack overflow @ " + hex(0));
}

TEST(AppendFormat, GrowsByDoublingAndKeepsEverything) {
    TextBuffer buffer;
    EXPECT_EQ(buffer.capacity(), 1024u);
    EXPECT_EQ(appendFormat(buffer, "%s", std::string(1000, 'a').c_str()), 1000);
    EXPECT_EQ(buffer.capacity(), 1024u);
    EXPECT_EQ(appendFormat(buffer, "%d-%s", 42, std::string(30, 'b').c_str()), 33);
    EXPECT_EQ(buffer.capacity(), 2048u);
    EXPECT_EQ(appendFormat(buffer, "%s", std::string(5000, 'c').c_str()), 5000);
    EXPECT_EQ(buffer.capacity(), 8192u);
    EXPECT_EQ(buffer.length(), 6033u);
    EXPECT_EQ(std::string(buffer.data()),
              std::string(1000, 'a') + "42-" + std::string(30, 'b') + std::string(5000, 'c'));
    EXPECT_EQ(appendFormat(buffer, "%s", ""), 0);
}

[[gnu::noinline]] std::string traceFromHere() {
    std::string trace = stackTrace();
    asm volatile("" ::: "memory");
    return trace;
}

std::string recurse(int depth);
// Called through a volatile pointer so that the compiler keeps one real frame per level.
std::string (*volatile recurseAgain)(int) = &recurse;

[[gnu::noinline]] std::string recurse(int depth) {
    if (depth == 0) {
        return stackTrace();
    }
    std::string trace = recurseAgain(depth - 1);
    asm volatile("" ::: "memory");
    return trace;
}

TEST(StackTrace, NamesTheCallersWithFilesAndLines) {
    const auto text = lines(traceFromHere());
    ASSERT_GE(text.size(), 3u);
    bool named = false;
    for (const auto& line : text) {
        if (line.find("traceFromHere") != std::string::npos) {
            named = true;
            EXPECT_NE(line.find("test_stack_trace.cpp("), std::string::npos) << line;
        }
    }
    EXPECT_TRUE(named) << text.front();
    EXPECT_EQ(text.back().find("error"), std::string::npos) << text.back();
    EXPECT_EQ(text.back().find("overflow"), std::string::npos) << text.back();
}

TEST(StackTrace, DeepStackEndsWithTheOverflowLine) {
    const auto text = lines(recurse(1100));
    ASSERT_EQ(text.size(), kStackFrameCapacity);
    EXPECT_EQ(text.back(), "Stack overflow @ " + hex(0));
}

} // namespace
