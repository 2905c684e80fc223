#include "platform/app_data.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class AppDataFolder : public testing::Test {
protected:
    void TearDown() override {
        setenv("XDG_DATA_HOME", testenv::appDataFolder().c_str(), 1);
        setenv("HOME", home_.c_str(), 1);
    }
    std::string home_ = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "/root";
};

TEST_F(AppDataFolder, UsesXdgDataHomeAndCreatesIt) {
    const fs::path folder = testenv::tempRoot() / "fresh" / "data";
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    auto found = platform::localAppDataFolder();
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, folder);
    EXPECT_TRUE(fs::is_directory(folder));
}

TEST_F(AppDataFolder, FallsBackToHomeWhenXdgIsUnsetOrRelative) {
    const fs::path home = testenv::tempRoot() / "home";
    setenv("HOME", home.c_str(), 1);
    for (const char* xdg : {"", "relative/path"}) {
        setenv("XDG_DATA_HOME", xdg, 1);
        auto found = platform::localAppDataFolder();
        ASSERT_TRUE(found.has_value()) << xdg;
        EXPECT_EQ(*found, home / ".local" / "share");
    }
    EXPECT_TRUE(fs::is_directory(home / ".local" / "share"));
}

TEST_F(AppDataFolder, FolderThatCannotBeCreatedGivesNothing) {
    const fs::path blocker = testenv::tempRoot() / "blocker";
    { std::ofstream(blocker) << "a file, not a folder"; }
    setenv("XDG_DATA_HOME", (blocker / "data").c_str(), 1);
    EXPECT_FALSE(platform::localAppDataFolder().has_value());
}

} // namespace
