// The corrections exchange run by the dialog's clock, with its message boxes and its folder chooser
// answered by the test.
#include "sensor-sim/corrections.h"
#include "tests/common/test_env.h"
#include "tests/ui/dialog_fixture.h"

#include <QtCore/QDir>

#include <algorithm>
#include <iterator>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using uitest::DialogTest;

constexpr const char* kSerial = "SN1";
const QString kPleaseSelect = "Please select the device calibration files.";
const QString kTryAgain = "Invalid calibrartion files, device cannot start. Try Again?";

// The device side: starts only with correction files of its own sensor, as the simulated detector.
class FakeCalibration : public CalibrartionHandler {
public:
    fs::path work;
    bool failed = true;
    bool folderThrows = false;
    bool startThrows = false;
    int pauses = 0, resumes = 0, acknowledged = 0, starts = 0;

    bool acknowledgeStatus() override {
        ++acknowledged;
        failed = false;
        return true;
    }
    bool reinitDevice() override {
        ++starts;
        if (startThrows) {
            throw fs::filesystem_error("directory_iterator::operator++",
                                       std::make_error_code(std::errc::io_error));
        }
        failed = !sensorbus::holdsCorrectionFilesFor(work / "Correct" / "Default", kSerial);
        return !failed;
    }
    fs::path currentWorkFolder() override {
        if (folderThrows) {
            throw fs::filesystem_error("status", std::make_error_code(std::errc::io_error));
        }
        return work;
    }
    std::optional<std::string> serialNumber() override { return kSerial; }
    bool correctionFailed() override { return failed; }
    void pauseConnection() override { ++pauses; }
    void resumeConnection() override { ++resumes; }
};

fs::path makeFolder(const std::string& name, const std::vector<std::pair<std::string, std::string>>& files) {
    const fs::path folder = testenv::tempRoot() / "disks" / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const auto& [file, content] : files) {
        std::ofstream(folder / file) << content;
    }
    return folder;
}

class CorrectionsTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        fake = std::make_shared<FakeCalibration>();
        fake->work = testenv::tempRoot() / "work" / kSerial;
        fs::remove_all(fake->work);
        calibration = fake;
        own = testenv::tempRoot() / "disks" / kSerial;
        fs::remove_all(own);
        ASSERT_TRUE(sensorbus::writeCorrectionFiles(own, kSerial));
        other = testenv::tempRoot() / "disks" / "SN2";
        fs::remove_all(other);
        ASSERT_TRUE(sensorbus::writeCorrectionFiles(other, "SN2"));
    }

    fs::path corrections() const { return fake->work / "Correct" / "Default"; }

    bool logHas(const std::string& text) const {
        for (const auto& line : appfiles::logLines()) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

public:
    std::shared_ptr<FakeCalibration> fake;
    fs::path own;
    fs::path other;
};

using uitest::Answerer;
using A = Answerer::Answer;

TEST_F(CorrectionsTest, ExchangeAsksUntilTheFilesLoadOrTheUserGivesUp) {
    struct Case {
        const char* name;
        std::function<fs::path(CorrectionsTest&)> chosen; // the first folder given to the chooser
        bool thenOwn;                                     // answered Yes and then given the sensor's folder
        std::vector<QString> shown;
        int acknowledged;
        int starts;
        const char* logLine;
    };
    const std::vector<QString> loaded = {kPleaseSelect, "chooser"};
    const std::vector<QString> gaveUp = {kPleaseSelect, "chooser", kTryAgain};
    const std::vector<QString> retried = {kPleaseSelect, "chooser", kTryAgain, "chooser"};
    const Case cases[] = {
        {"the sensor's pair", [](CorrectionsTest& t) { return t.own; }, false, loaded, 0, 1,
         "loadCalibrartionFiles 4: 2 def: 1 gn: 1"},
        {"a stray text file",
         [](CorrectionsTest&) {
             return makeFolder("stray", {{"a.dft", "x"}, {"a.gn", "x"}, {"notes.txt", "x"}});
         },
         false, gaveUp, 1, 0, "ext: .txt"},
        {"capitals",
         [](CorrectionsTest&) {
             return makeFolder("capitals", {{"A.DFT", "x"}, {"A.GN", "x"}});
         },
         false, gaveUp, 1, 0, "ext: .DFT"},
        {"two offsets",
         [](CorrectionsTest&) {
             return makeFolder("offsets", {{"a.dft", "x"}, {"b.dft", "x"}});
         },
         false, gaveUp, 1, 0, "loadCalibrartionFiles 4: 2 def: 1 gn: 0"},
        {"four files",
         [](CorrectionsTest&) {
             return makeFolder("four", {{"a.dft", "x"}, {"b.dft", "x"}, {"a.gn", "x"}, {"b.gn", "x"}});
         },
         false, gaveUp, 1, 0, "loadCalibrartionFiles 1"},
        {"cancelled chooser", [](CorrectionsTest&) { return fs::path(); }, false, gaveUp, 1, 0, "No Input"},
        {"another sensor's files, then its own", [](CorrectionsTest& t) { return t.other; }, true, retried, 0,
         2, "loadCalibrartionFiles 5"},
    };
    for (const auto& c : cases) {
        SetUp();
        open();
        std::deque<A> answers = {{QMessageBox::Ok, {}}, {QMessageBox::NoButton, c.chosen(*this)}};
        answers.push_back({c.thenOwn ? QMessageBox::Yes : QMessageBox::No, {}});
        answers.push_back({QMessageBox::NoButton, own});
        Answerer answerer(answers);
        dialog->handleFlicker();

        EXPECT_EQ(answerer.shown, c.shown) << c.name;
        EXPECT_EQ(fake->acknowledged, c.acknowledged) << c.name;
        EXPECT_EQ(fake->starts, c.starts) << c.name;
        EXPECT_EQ(fake->pauses, 1) << c.name;
        EXPECT_EQ(fake->resumes, 1) << c.name;
        EXPECT_FALSE(fake->failed) << c.name;
        EXPECT_TRUE(logHas(c.logLine)) << c.name << ": " << c.logLine;
        EXPECT_TRUE(logHas("handle_calibration_dialog 1")) << c.name;
        // Nothing is copied from a folder that is not a pair of correction files.
        const bool copied = fs::exists(corrections() / "SN1.dft") && fs::exists(corrections() / "SN1.gn");
        EXPECT_EQ(copied, c.starts > 0) << c.name;
        EXPECT_FALSE(fs::exists(corrections() / "a.dft")) << c.name;
        for (const QString& style : answerer.styles) {
            EXPECT_EQ(style, "background-color: rgb(255,255,255);") << c.name;
        }
        EXPECT_EQ(answerer.chooserParent, dialog.get()) << c.name;
        EXPECT_EQ(answerer.chooserStart, QDir::homePath()) << c.name;
        EXPECT_EQ(answerer.chooserCaption, "Select Corrections Folder") << c.name;
        dialog.reset();
    }
}

TEST_F(CorrectionsTest, OnlyACompletePairMakesTheQuestionUnnecessary) {
    struct Case {
        const char* name;
        std::vector<std::string> present;
        bool asked;
    };
    const Case cases[] = {
        {"a pair", {"x.dft", "y.gn"}, false},
        {"a half-copied pair", {"x.dft"}, true},
        {"stray files", {"readme.txt"}, true},
    };
    for (const auto& c : cases) {
        SetUp();
        fs::create_directories(corrections());
        for (const auto& file : c.present) {
            std::ofstream(corrections() / file) << "x";
        }
        open();
        Answerer answerer({{QMessageBox::Ok, {}}, {QMessageBox::NoButton, {}}, {QMessageBox::No, {}}});
        dialog->handleFlicker();
        EXPECT_EQ(answerer.shown.empty(), !c.asked) << c.name;
        EXPECT_EQ(fake->resumes, 1) << c.name;
        dialog.reset();
    }
}

TEST_F(CorrectionsTest, LoadingAgainReplacesEarlierCopies) {
    fs::create_directories(corrections());
    std::ofstream(corrections() / "SN1.dft") << "serial=SN2\n"; // another sensor's, same name
    open();
    Answerer answerer({{QMessageBox::Ok, {}}, {QMessageBox::NoButton, own}});
    dialog->handleFlicker();
    EXPECT_EQ(fake->starts, 1);
    EXPECT_EQ(sensorbus::correctionFileSerial(corrections() / "SN1.dft"), kSerial);
    EXPECT_FALSE(fake->failed);
}

TEST_F(CorrectionsTest, AnErrorDuringTheExchangeLeavesTheConnectionResumed) {
    open();
    fake->folderThrows = true;
    dialog->handleFlicker();
    EXPECT_EQ(fake->pauses, 1);
    EXPECT_EQ(fake->resumes, 1);

    fake->folderThrows = false;
    fake->startThrows = true;
    Answerer answerer({{QMessageBox::Ok, {}}, {QMessageBox::NoButton, own}, {QMessageBox::No, {}}});
    dialog->handleFlicker();
    EXPECT_EQ(answerer.shown, (std::vector<QString>{kPleaseSelect, "chooser", kTryAgain}));
    EXPECT_TRUE(logHas("loadCalibrartionFiles error: "));
    EXPECT_EQ(fake->acknowledged, 1);
    EXPECT_EQ(fake->pauses, 2);
    EXPECT_EQ(fake->resumes, 2);
}

// Files the detector refuses leave the corrections folder as it was: none of them stays beside what
// was there, a file of the same name comes back, and a folder made for them goes again.
TEST_F(CorrectionsTest, RefusedFilesLeaveTheFolderAsItWas) {
    for (const bool existed : {true, false}) {
        SetUp();
        if (existed) {
            fs::create_directories(corrections());
            std::ofstream(corrections() / "keep.txt") << "technician's note";
            std::ofstream(corrections() / "SN2.gn") << "older gain";
        }
        open();
        Answerer answerer({{QMessageBox::Ok, {}}, {QMessageBox::NoButton, other}, {QMessageBox::No, {}}});
        dialog->handleFlicker();
        EXPECT_EQ(answerer.shown, (std::vector<QString>{kPleaseSelect, "chooser", kTryAgain}));
        EXPECT_EQ(fake->starts, 1);
        if (existed) {
            std::vector<std::string> names;
            for (const auto& entry : fs::directory_iterator(corrections())) {
                names.push_back(entry.path().filename().string());
            }
            std::sort(names.begin(), names.end());
            EXPECT_EQ(names, (std::vector<std::string>{"SN2.gn", "keep.txt"}));
            std::ifstream gain(corrections() / "SN2.gn");
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(gain), {}), "older gain");
        } else {
            EXPECT_FALSE(fs::exists(fake->work / "Correct"));
        }
        dialog.reset();
    }
}

} // namespace
