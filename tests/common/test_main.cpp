// Test main: every test process gets a fresh application-data folder and sensor bus under a
// temporary folder of its own, removed again at the end.
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

std::filesystem::path root;

} // namespace

namespace testenv {

const std::filesystem::path& tempRoot() {
    return root;
}
std::filesystem::path appDataFolder() {
    return root / "appdata";
}
std::filesystem::path busFolder() {
    return root / "bus";
}

} // namespace testenv

int main(int argc, char** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostra-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return 2;
    }
    root = pattern;
    std::filesystem::create_directories(testenv::appDataFolder());
    std::filesystem::create_directories(testenv::busFolder());
    setenv("XDG_DATA_HOME", testenv::appDataFolder().c_str(), 1);
    setenv("OSTRA_SENSOR_BUS", testenv::busFolder().c_str(), 1);
    setenv("OSTRA_TWAIN_DS_FOLDER", OSTRA_TEST_TWAIN_FOLDER, 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);

    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();

    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    return result;
}
