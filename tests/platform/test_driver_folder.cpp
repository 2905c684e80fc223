// The driver folder and the search path for libraries loaded by bare name.
#include "platform/module.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

TEST(DriverFolder, LibraryFileNameFollowsTheSystem) {
    EXPECT_EQ(platform::libraryFileName("FpdSys"), "libFpdSys.so");
}

TEST(DriverFolder, DefaultsToTheFolderOfTheModuleHoldingTheCode) {
    ASSERT_EQ(platform::driverFolder(), platform::ownModuleFile()->parent_path());
    platform::setDriverFolder(fs::path("/opt/ostra"));
    EXPECT_EQ(platform::driverFolder(), fs::path("/opt/ostra"));
    platform::setDriverFolder(std::nullopt);
    EXPECT_EQ(platform::driverFolder(), platform::ownModuleFile()->parent_path());
}

TEST(DriverFolder, BareNamesAreLookedForInTheAddedFolder) {
    const fs::path fixture(FIXTURE_MODULE);
    const fs::path bare = fixture.filename();
    EXPECT_FALSE(platform::librarySearchFolder().has_value());
    EXPECT_FALSE(platform::Module::load(bare).loaded());

    platform::setDriverFolder(fixture.parent_path());
    ASSERT_TRUE(platform::addDriverFolderToSearchPath());
    EXPECT_EQ(platform::librarySearchFolder(), fixture.parent_path());
    auto module = platform::Module::load(bare);
    ASSERT_TRUE(module.loaded());
    EXPECT_NE(module.symbol("ostraFixtureAnswer"), nullptr);

    // A name the folder does not hold still goes through the system's search (and fails here).
    std::string error;
    EXPECT_FALSE(platform::Module::load("libNoSuchOstraLibrary.so", &error).loaded());
    EXPECT_FALSE(error.empty());

    // A folder without the library: the system's search is all that is left.
    const fs::path empty = testenv::tempRoot() / "empty-driver";
    fs::create_directories(empty);
    platform::setDriverFolder(empty);
    ASSERT_TRUE(platform::addDriverFolderToSearchPath());
    EXPECT_FALSE(platform::Module::load(bare).loaded());

    // Back to the default search: the driver folder is no longer looked in.
    platform::setDriverFolder(fixture.parent_path());
    ASSERT_TRUE(platform::addDriverFolderToSearchPath());
    platform::resetLibrarySearchPath();
    EXPECT_FALSE(platform::librarySearchFolder().has_value());
    EXPECT_FALSE(platform::Module::load(bare).loaded());
}

} // namespace
