// Test main of the Windows test programs: every test process gets a temporary folder of its own
// holding its sensor bus, removed again at the end. The application-data folder is the shell's (the
// wine prefix of the test run is itself temporary).
#include "platform/app_data.h"
#include "tests/common/test_env.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::filesystem::path root;

void setVariable(const char* name, const std::filesystem::path& value, bool overwrite = true) {
    if (!overwrite && std::getenv(name) != nullptr) {
        return;
    }
    _putenv_s(name, value.string().c_str());
}

} // namespace

namespace testenv {

const std::filesystem::path& tempRoot() {
    return root;
}
std::filesystem::path appDataFolder() {
    return platform::localAppDataFolder().value_or(root / "appdata");
}
std::filesystem::path busFolder() {
    return root / "bus";
}

} // namespace testenv

int main(int argc, char** argv) {
    std::error_code ec;
    const auto temp = std::filesystem::temp_directory_path(ec);
    if (ec) {
        return 2;
    }
    for (unsigned attempt = 0;; ++attempt) {
        root = temp / ("ostra-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(attempt));
        if (std::filesystem::create_directory(root, ec)) {
            break;
        }
        if (ec || attempt > 100) {
            return 2;
        }
    }
    std::filesystem::create_directories(testenv::busFolder());
    setVariable("OSTRA_SENSOR_BUS", testenv::busFolder());
    setVariable("OSTRA_TWAIN_DS_FOLDER", OSTRA_TEST_TWAIN_FOLDER, false);

    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();

    std::filesystem::remove_all(root, ec);
    return result;
}
