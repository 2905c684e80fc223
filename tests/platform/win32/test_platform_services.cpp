// The Windows services of the platform layer: application-data folder, library search in the driver
// folder, the module of an address, handle memory and file replacement.
#include "platform/app_data.h"
#include "platform/handle_memory.h"
#include "platform/module.h"
#include "platform/replace_file.h"
#include "platform/sdk_text.h"
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
    // Unless set, the driver folder is the folder of the module holding the code (TwainDll.ds in the
    // product, this program here).
    platform::setDriverFolder(std::nullopt);
    EXPECT_EQ(platform::driverFolder(), platform::ownModuleFile()->parent_path());
}

// The detector SDK takes narrow text in the active code page: a folder it can hold is given as is,
// one it cannot by its short name, and a missing one that has none is refused.
TEST(WindowsPlatform, SdkPathsAreInTheActiveCodePage) {
    struct Case {
        const wchar_t* name;
        bool create;
    };
    for (const Case c : {Case{L"plain folder", true}, Case{L"Jos\u00e9 M\u00fcller", true},
                         Case{L"\u0394\u6f22\u5b57 sensor", true}, Case{L"\u6f22\u5b57 missing", false}}) {
        const fs::path folder = testenv::tempRoot() / "sdk" / c.name;
        if (c.create) {
            fs::create_directories(folder);
        }
        const auto text = platform::pathForSdk(folder);
        if (!text) {
            // Only a folder the code page cannot hold and without a short name.
            EXPECT_FALSE(c.create && std::wstring(c.name) == L"plain folder");
            continue;
        }
        EXPECT_EQ(text->find('\\'), std::string::npos) << *text;
        const fs::path back = platform::pathFromSdk(text->c_str());
        if (c.create) {
            EXPECT_TRUE(fs::equivalent(back, folder)) << *text;
        } else {
            EXPECT_EQ(back, fs::path(folder.generic_wstring())) << *text;
        }
    }
    const fs::path plain = testenv::tempRoot() / "sdk" / "plain folder";
    EXPECT_EQ(platform::pathForSdk(plain), plain.generic_string());
    EXPECT_TRUE(platform::pathFromSdk(nullptr).empty());
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
