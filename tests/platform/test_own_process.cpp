#include "platform/own_process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Set for this program run again by the tests below: its child tests then act.
constexpr const char* kChildVariable = "OSTRA_OWN_PROCESS_CHILD";

bool inChild() {
    return std::getenv(kChildVariable) != nullptr;
}

TEST(OwnProcessChild, PrintsItsLine) {
    if (inChild()) {
        std::printf("child says 42\n");
    }
}

TEST(OwnProcessChild, Fails) {
    EXPECT_FALSE(inChild());
}

// A child run of this program: what it printed arrives whole; one that ends with a failure gives
// nothing; the memory figures follow 64 MB touched and freed.
TEST(OwnProcess, RunsItselfAndMeasuresItsMemory) {
    if (inChild()) {
        GTEST_SKIP();
    }
    setenv(kChildVariable, "1", 1);
    const auto output = platform::runSelf("--gtest_filter=OwnProcessChild.PrintsItsLine");
    const auto failed = platform::runSelf("--gtest_filter=OwnProcessChild.Fails");
    unsetenv(kChildVariable);
    ASSERT_TRUE(output.has_value());
    EXPECT_NE(output->find("child says 42\n"), std::string::npos) << *output;
    EXPECT_FALSE(failed.has_value());

    const long before = platform::residentKilobytes();
    ASSERT_GT(before, 0);
    EXPECT_GE(platform::peakResidentKilobytes(), before);
    {
        std::vector<char> block(64 << 20, 1);
        for (std::size_t i = 0; i < block.size(); i += 4096) {
            block[i] = static_cast<char>(i);
        }
        asm volatile("" : : "r"(block.data()) : "memory"); // the block stays
        EXPECT_GE(platform::residentKilobytes() - before, 60 * 1024);
        EXPECT_GE(platform::peakResidentKilobytes() - before, 60 * 1024);
    }
    EXPECT_GE(platform::peakResidentKilobytes() - before, 60 * 1024);
}

} // namespace
