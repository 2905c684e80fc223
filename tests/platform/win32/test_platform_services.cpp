// The Windows services of the platform layer: application-data folder, library search in the driver
// folder, the module of an address, handle memory and file replacement.
#include "platform/app_data.h"
#include "platform/handle_memory.h"
#include "platform/module.h"
#include "platform/replace_file.h"
#include "platform/twain_dsm.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(WindowsPlatform, AppDataIsTheShellsLocalFolder) {
    const auto folder = platform::localAppDataFolder();
    ASSERT_TRUE(folder);
    wchar_t shell[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, shell), S_OK);
    EXPECT_EQ(*folder, fs::path(shell));
    EXPECT_TRUE(fs::is_directory(*folder));
}

TEST(WindowsPlatform, NamesFollowTheSystem) {
    EXPECT_EQ(platform::libraryFileName("FpdSys"), "FpdSys.dll");
    EXPECT_EQ(platform::twainDsmLibraryNames(), (std::vector<std::string>{"TWAIN_32.dll", "TWAINDSM.dll"}));
    platform::setDriverFolder(std::nullopt);
    EXPECT_EQ(platform::driverFolder(), fs::path(L"C:\\Windows\\twain_32\\Ostra Sensor Twain Driver"));
}

TEST(WindowsPlatform, BareNamesAreFoundInTheDriverFolderUntilTheSearchIsReset) {
    const fs::path folder = testenv::tempRoot() / "driver";
    fs::create_directories(folder);
    fs::copy_file(FIXTURE_MODULE, folder / "OstraFixture.dll");
    platform::setDriverFolder(folder);

    EXPECT_FALSE(platform::Module::load("OstraFixture.dll"));
    ASSERT_TRUE(platform::addDriverFolderToSearchPath());
    EXPECT_EQ(platform::librarySearchFolder(), folder);
    {
        auto module = platform::Module::load("OstraFixture.dll");
        ASSERT_TRUE(module);
        const auto answer = module.function<int (*)()>("ostraFixtureAnswer");
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(), 42);

        // The module of an address inside the library is the library's own file.
        const auto lookup = platform::moduleFileOf(reinterpret_cast<const void*>(answer));
        ASSERT_TRUE(lookup.file);
        EXPECT_TRUE(fs::equivalent(*lookup.file, folder / "OstraFixture.dll"));
    }
    platform::resetLibrarySearchPath();
    EXPECT_FALSE(platform::librarySearchFolder());
    std::string error;
    EXPECT_FALSE(platform::Module::load("OstraFixture.dll", &error));
    EXPECT_FALSE(error.empty());
    platform::setDriverFolder(std::nullopt);
}

TEST(WindowsPlatform, ModuleFileOfThisCodeAndOfNoModule) {
    wchar_t program[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, program, MAX_PATH), 0u);
    EXPECT_EQ(platform::ownModuleFile(), fs::path(program));

    const auto nowhere = platform::moduleFileOf(reinterpret_cast<const void*>(std::uintptr_t{0x10}));
    EXPECT_FALSE(nowhere.file);
    EXPECT_EQ(nowhere.failure, platform::ModuleFileLookup::Failure::module);
    EXPECT_NE(nowhere.error, 0u);
}

TEST(WindowsPlatform, HandleMemoryIsZeroedMovableGlobalMemory) {
    void* handle = platform::handleAlloc(64);
    ASSERT_NE(handle, nullptr);
    EXPECT_GE(GlobalSize(static_cast<HGLOBAL>(handle)), 64u);
    auto* bytes = static_cast<unsigned char*>(platform::handleLock(handle));
    ASSERT_NE(bytes, nullptr);
    EXPECT_EQ(std::count(bytes, bytes + 64, 0), 64);
    std::memset(bytes, 0xAB, 64);
    platform::handleUnlock(handle);
    bytes = static_cast<unsigned char*>(platform::handleLock(handle));
    EXPECT_EQ(bytes[63], 0xAB);
    platform::handleUnlock(handle);
    platform::handleFree(handle);
    EXPECT_EQ(platform::handleLock(nullptr), nullptr);
}

TEST(WindowsPlatform, ReplaceFileSwapsWholeOrLeavesTheTargetAlone) {
    const fs::path target = testenv::tempRoot() / "config.json";
    const fs::path fresh = testenv::tempRoot() / "config.json.new";
    std::ofstream(target) << "old";
    std::ofstream(fresh) << "new";
    EXPECT_FALSE(platform::replaceFile(fresh, target));
    EXPECT_EQ(contents(target), "new");
    EXPECT_FALSE(fs::exists(fresh));

    // A missing source reports the system's error and keeps the target.
    const auto failed = platform::replaceFile(fresh, target);
    EXPECT_EQ(failed.value(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(contents(target), "new");
}

} // namespace
