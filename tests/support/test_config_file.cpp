#include "support/config_file.h"
#include "tests/support/app_files.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace {

namespace fs = std::filesystem;
using namespace appfiles;

const std::string kDefaultText =
    R"({"auto_save_enabled":false,"current_image_mode":1,"enable_template_mode":false,)"
    R"("image_presets":{"brightness":0,"contrast":1.0,"gamma":0.68},"image_presets_locked":false,)"
    R"("last_serial_number":"","previous_serial_numbers":[],"previous_serial_numbers_map":{}})";

ConfigFile everythingChanged() {
    ConfigFile config;
    config.auto_save_enabled = true;
    config.last_serial_number = "SN-2";
    config.previous_serial_numbers = {"SN-2", "SN-10", "Zähler"};
    config.previous_serial_numbers_map = {{"usb-b", "SN-2"}, {"usb-a", "SN-10"}, {"usb-c", "Zähler"}};
    config.enable_template_mode = true;
    config.current_image_mode = 0;
    config.image_presets = {0.98, -5, 1.25};
    config.image_presets_locked = true;
    return config;
}

TEST(ConfigFirstRun, ReadCreatesTheFolderAndTheDefaultFile) {
    ASSERT_FALSE(fs::exists(folder()));
    EXPECT_EQ(readConfigFile(), ConfigFile{});
    EXPECT_EQ(read(), kDefaultText + "\n");
    // "filePath 1" came before the folder existed and is lost.
    const std::vector<std::string> expected{
        "reading file from full path: " + config().string(),
        "Unable to read: No such file or directory",
        "writeConfigFileToPath",
    };
    EXPECT_EQ(logLines(), expected);
}

TEST(ConfigFile, AWriteReplacesTheWholeFileCompactlyWithSortedKeys) {
    writeConfigFile(ConfigFile{});
    ConfigFile config = everythingChanged();
    config.presetsChanged = true;
    writeConfigFile(config);
    EXPECT_EQ(read(),
              R"({"auto_save_enabled":true,"current_image_mode":0,"enable_template_mode":true,)"
              R"("image_presets":{"brightness":-5,"contrast":0.98,"gamma":1.25},"image_presets_locked":true,)"
              R"("last_serial_number":"SN-2","previous_serial_numbers":["SN-10","SN-2","Zähler"],)"
              R"("previous_serial_numbers_map":{"usb-a":"SN-10","usb-b":"SN-2","usb-c":"Zähler"}})"
              "\n");
    config.presetsChanged = false; // kept in memory only
    EXPECT_EQ(readConfigFile(), config);
    for (const auto& entry : fs::directory_iterator(folder())) {
        EXPECT_TRUE(entry.path() == appfiles::config() || entry.path().filename() == "ds.log" ||
                    entry.path().filename() == "config.json.lock")
            << entry.path();
    }

    config.last_serial_number.reset();
    writeConfigFile(config);
    EXPECT_NE(read().find(R"("last_serial_number":null)"), std::string::npos);
    EXPECT_EQ(readConfigFile().last_serial_number, std::string());

    writeConfigFileToPath(folder() / "missing" / "config.json", config);
    EXPECT_FALSE(fs::exists(folder() / "missing"));
}

TEST(ConfigFile, MissingOrNullKeysKeepTheirDefaults) {
    ConfigFile autoSave;
    autoSave.auto_save_enabled = true;
    ConfigFile loose;
    loose.previous_serial_numbers = {"A", "B"};
    loose.image_presets = {2.0, 7, 1.0};
    const std::pair<std::string, ConfigFile> cases[] = {
        {R"({"auto_save_enabled":true,"last_serial_number":"","previous_serial_numbers":[],"previous_serial_numbers_map":{}})",
         autoSave},
        {R"({"auto_save_enabled":true})", autoSave},
        {R"({"auto_save_enabled":true,"last_serial_number":null,"enable_template_mode":null,"current_image_mode":null,"image_presets":null,"image_presets_locked":null})",
         autoSave},
        {" {\r\n \"auto_save_enabled\" : false, \"previous_serial_numbers\":[\"B\",\"A\",\"A\"],"
         "\"image_presets\":{\"brightness\":7.9,\"contrast\":2,\"gamma\":1}, \"unknown\":[1]}\r\n",
         loose},
    };
    for (const auto& [text, expected] : cases) {
        writeConfig(text);
        EXPECT_EQ(readConfigFile(), expected) << text;
        EXPECT_EQ(read(), text) << "a readable file is never rewritten by a read";
    }
}

TEST(ConfigFile, ImageModeTakesAnyNumberTruncatedToAByte) {
    const std::pair<std::string, int> cases[] = {{"0", 0},
                                                 {"2.7", 2},
                                                 {"-1", 255},
                                                 {"256", 0},
                                                 {"-2.5", 254},
                                                 {"1e300", 0},
                                                 {"18446744073709551615", 255}};
    for (const auto& [value, mode] : cases) {
        writeConfig(R"({"auto_save_enabled":false,"current_image_mode":)" + value + "}");
        EXPECT_EQ(readConfigFile().current_image_mode, mode) << value;
    }
}

TEST(ConfigFile, ABrokenFileGivesTheDefaultsAndIsLeftAsItIs) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "cannot use at() with discarded"},
        {R"({"auto_save_enabled":tr)", "cannot use at() with discarded"},
        {R"(/* note */ {"auto_save_enabled":true})", "cannot use at() with discarded"},
        {"[true]", "cannot use at() with array"},
        {R"({"last_serial_number":"S1"})", "key 'auto_save_enabled' not found"},
        {R"({"auto_save_enabled":1})", "type must be boolean, but is number"},
        {R"({"auto_save_enabled":true,"enable_template_mode":"yes"})", "type must be boolean, but is string"},
        {R"({"auto_save_enabled":true,"current_image_mode":"1"})", "type must be number, but is string"},
        {R"({"auto_save_enabled":true,"current_image_mode":true})", "type must be number, but is boolean"},
        {R"({"auto_save_enabled":true,"image_presets":{"brightness":0,"contrast":1.0}})",
         "key 'gamma' not found"},
        {R"({"auto_save_enabled":true,"image_presets":{"brightness":false,"contrast":1,"gamma":1}})",
         "type must be number, but is boolean"},
        {R"({"auto_save_enabled":true,"last_serial_number":5})", "type must be string, but is number"},
        {R"({"auto_save_enabled":true,"previous_serial_numbers":null})", "type must be array, but is null"},
        {R"({"auto_save_enabled":true,"previous_serial_numbers":["A",1]})",
         "type must be string, but is number"},
        {R"({"auto_save_enabled":true,"previous_serial_numbers_map":["u","S"]})",
         "type must be object, but is array"},
    };
    for (const auto& [text, error] : cases) {
        writeConfig(text);
        startLog();
        EXPECT_EQ(readConfigFile(), ConfigFile{}) << text;
        EXPECT_EQ(read(), text);
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), 5u) << text;
        EXPECT_EQ(lines[2].rfind("exception: [json.exception.", 0), 0u) << lines[2];
        EXPECT_NE(lines[2].find(error), std::string::npos) << lines[2];
        EXPECT_EQ(lines[3], "invalid json no");
        EXPECT_EQ(lines[4], "File Raw: " + text);
    }
}

TEST(ConfigFile, AFolderInPlaceOfTheFileIsLeftAlone) {
    fs::create_directories(config());
    EXPECT_EQ(readConfigFile(), ConfigFile{});
    writeConfigFile(everythingChanged());
    EXPECT_TRUE(fs::is_directory(config()));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder()), fs::directory_iterator()), 3)
        << "config.json, ds.log, config.json.lock";
}

TEST(ConfigFile, NothingIsReadOrWrittenWhenTheFolderCannotBeMade) {
    fs::create_directories(folder().parent_path());
    std::ofstream(folder()).close(); // a file where the folder should be
    EXPECT_EQ(filePath(false), config());
    EXPECT_EQ(filePath(true), std::nullopt);
    EXPECT_EQ(readConfigFile(), ConfigFile{});
    writeConfigFile(everythingChanged());
    EXPECT_TRUE(fs::is_regular_file(folder()));
}

TEST(ConfigFile, TextThatIsNotUtf8IsStoredReadably) {
    ConfigFile config;
    config.last_serial_number = std::string("SN\xff", 3);
    config.previous_serial_numbers_map = {{std::string("usb\xc3", 4), "SN"}};
    writeConfigFile(config);
    const ConfigFile back = readConfigFile();
    EXPECT_EQ(back.last_serial_number, "SN\xEF\xBF\xBD");
    EXPECT_EQ(back.previous_serial_numbers_map.size(), 1u);
}

TEST(ConfigFile, UpdateAppliesTheChangeToTheStoredRecord) {
    writeConfigFile(everythingChanged());
    const ConfigFile updated =
        updateConfigFile([](ConfigFile& c) { c.previous_serial_numbers.insert("SN-3"); });
    EXPECT_EQ(updated.previous_serial_numbers.size(), 4u);
    EXPECT_EQ(readConfigFile(), updated);

    const std::string before = read();
    const auto failing = [](ConfigFile& c) {
        c.auto_save_enabled = false;
        throw std::runtime_error("no");
    };
    EXPECT_THROW(updateConfigFile(failing), std::runtime_error);
    EXPECT_EQ(read(), before);
}

// An update over a file that exists but cannot be used never replaces it (a typo or a passing read
// failure would erase the serial history and the presets): the change lives on in memory, and is
// what gets written once the file is missing.
TEST(ConfigFile, UpdateNeverReplacesABrokenFile) {
    const std::string broken[] = {R"({"auto_save_enabled":tr)", "not json", "",
                                  R"({"previous_serial_numbers":["SN1"]})"};
    for (const auto& text : broken) {
        SCOPED_TRACE(text);
        writeConfig(text);
        EXPECT_EQ(updateConfigFile([](ConfigFile& c) { c.last_serial_number = "SN5"; }).last_serial_number,
                  "SN5");
        const ConfigFile changed =
            updateConfigFile([](ConfigFile& c) { c.previous_serial_numbers.insert("SN5"); });
        EXPECT_EQ(changed.last_serial_number, "SN5");
        EXPECT_EQ(read(), text);
        EXPECT_EQ(readConfigFile(), changed);
    }

    fs::remove(config());
    const ConfigFile created = readConfigFile();
    EXPECT_EQ(created.last_serial_number, "SN5");
    EXPECT_EQ(created.previous_serial_numbers, std::set<std::string>{"SN5"});
    EXPECT_NE(read().find(R"("previous_serial_numbers":["SN5"])"), std::string::npos) << read();

    // A usable file is the record again.
    writeConfig(kDefaultText);
    EXPECT_EQ(readConfigFile(), ConfigFile{});
    writeConfig("broken");
    EXPECT_EQ(readConfigFile(), ConfigFile{});
}

// Changes held while the file could not be read join what the file holds once it can: nothing of
// either is thrown away.
TEST(ConfigFile, HeldChangesAreMergedWhenTheFileIsReadableAgain) {
    writeConfig("{\"auto_save_enabled\":tr");
    updateConfigFile([](ConfigFile& c) {
        c.previous_serial_numbers.insert("SN7");
        c.previous_serial_numbers_map["U7"] = "SN7";
        c.last_serial_number = "SN7";
    });
    updateConfigFile([](ConfigFile& c) { c.auto_save_enabled = true; });

    ConfigFile stored;
    stored.previous_serial_numbers = {"SN1"};
    stored.previous_serial_numbers_map = {{"U1", "SN1"}};
    stored.current_image_mode = 0;
    writeConfigFile(stored); // readable again, with its own history

    const ConfigFile merged = readConfigFile();
    EXPECT_EQ(merged.previous_serial_numbers, (std::set<std::string>{"SN1", "SN7"}));
    EXPECT_EQ(merged.previous_serial_numbers_map.size(), 2u);
    EXPECT_EQ(merged.last_serial_number, "SN7");
    EXPECT_TRUE(merged.auto_save_enabled);
    EXPECT_EQ(merged.current_image_mode, 0) << "untouched fields are the file's";
    EXPECT_NE(read().find(R"("previous_serial_numbers":["SN1","SN7"])"), std::string::npos) << read();
    writeConfigFile(ConfigFile{});
    EXPECT_EQ(readConfigFile(), ConfigFile{}) << "merged once";
}

// Two applications of one account record sensors at once: each one's read, change and write is
// one step against the other's, so neither loses the other's sensors.
TEST(ConfigFile, TwoProcessesUpdatingAtOnceLoseNothing) {
    writeConfigFile(ConfigFile{});
    constexpr int perProcess = 40;
    const auto record = [](const std::string& prefix) {
        for (int i = 0; i < perProcess; ++i) {
            updateConfigFile(
                [&](ConfigFile& c) { c.previous_serial_numbers.insert(prefix + std::to_string(i)); });
        }
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        record("child-");
        _exit(0);
    }
    record("parent-");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readConfigFile().previous_serial_numbers.size(), 2u * perProcess);
}

} // namespace
