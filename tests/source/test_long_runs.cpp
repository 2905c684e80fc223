// Long runs in one process, as a clinic's imaging application keeps the source loaded all day: many
// sessions, many exposures. Threads, open files and resident memory must come back to where they were
// after the first rounds, and the leak checker (address-sanitizer build) must find nothing.
#include "dsm/dsm_control.h"
#include "sensor-sim/bus.h"
#include "tests/common/acquisition_checks.h"
#include "tests/common/eventually.h"
#include "tests/common/test_env.h"
#include "tests/common/twain_app.h"
#include "ui/acquisition_dialog_lookup.h"

#include <QtCore/QTimer>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <malloc.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using testenv::acquisitionDialog;
using testenv::drawnTiles;
using testenv::onDialogThread;

// The sanitizer builds run fewer rounds: they are several times slower, their leak checker covers
// what the counters below measure, and their allocator keeps freed memory in quarantine.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMeasureMemory = false;
constexpr int kSessions = 20;
constexpr int kExposures = 100;
#else
constexpr bool kMeasureMemory = true;
constexpr int kSessions = 200;
constexpr int kExposures = 1000;
#endif

struct Resources {
    long threads = 0;
    long files = 0;
    long residentKb = 0;
};

long entriesIn(const char* folder) {
    long count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++count;
    }
    return count;
}

Resources resources() {
    Resources now;
    now.threads = entriesIn("/proc/self/task");
    now.files = entriesIn("/proc/self/fd");
    // Resident pages less those backed by files: the libraries' code pages that later sessions
    // happen to touch are no growth of the source's memory.
    long size = 0;
    long resident = 0;
    long shared = 0;
    std::ifstream("/proc/self/statm") >> size >> resident >> shared;
    now.residentKb = (resident - shared) * (sysconf(_SC_PAGESIZE) / 1024);
    return now;
}

// Threads and files come back to the baseline (threads may take a moment to end); memory stays within
// `slackKb` of it.
void expectBackTo(const Resources& baseline, long slackKb) {
    Resources now;
    EXPECT_TRUE(testenv::eventually([&] {
        now = resources();
        return now.threads == baseline.threads && now.files == baseline.files;
    })) << "threads "
        << baseline.threads << " -> " << now.threads << ", files " << baseline.files << " -> " << now.files;
    if (kMeasureMemory) {
        EXPECT_LE(now.residentKb - baseline.residentKb, slackKb)
            << "resident " << baseline.residentKb << " kB -> " << now.residentKb << " kB";
    }
    // The figures, for the run's record.
    std::cout << "threads " << baseline.threads << " -> " << now.threads << ", files " << baseline.files
              << " -> " << now.files << ", resident " << baseline.residentKb << " kB -> " << now.residentKb
              << " kB" << std::endl;
}

class LongRun : public testing::Test {
protected:
    static void SetUpTestSuite() {
        // One allocator arena for the whole process. With one per thread, each session's new threads
        // land on one of up to sixteen arenas at random, and the first fill of each is a step of a few
        // megabytes at any session, which says nothing about growth.
        mallopt(M_ARENA_MAX, 1);
        threadsAtStart_ = resources().threads;
    }

    // The figures once the last session's threads have ended.
    static Resources settled() {
        Resources now;
        EXPECT_TRUE(testenv::eventually([&] {
            now = resources();
            return now.threads == threadsAtStart_;
        })) << "threads "
            << threadsAtStart_ << " -> " << now.threads;
        return now;
    }

    void SetUp() override {
        OstraDsm_resetControls();
        ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    }

    void openAndEnable() {
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
        TW_USERINTERFACE ui{1, 0, nullptr};
        ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        ASSERT_TRUE(testenv::eventually(testenv::dialogVisible));
    }

    void disableAndClose() {
        TW_USERINTERFACE ui{};
        ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
        ASSERT_EQ(app.closeSource(), TWRC_SUCCESS);
        ASSERT_EQ(OstraDsm_outstandingHandles(), 0u);
    }

    TwainApp app;
    static inline long threadsAtStart_ = 0;
};

TEST_F(LongRun, SessionsOpenEnableDisableAndCloseWithoutGrowing) {
    testenv::plugKnownSensor("SN5150", "U5150");
    // Qt's and the font library's caches fill during the first few dozen sessions.
    constexpr int kWarmUp = kSessions / 4;
    Resources baseline;
    for (int session = 0; session < kSessions; ++session) {
        if (session == kWarmUp) {
            baseline = settled();
        }
        openAndEnable();
        disableAndClose();
        if (HasFatalFailure()) {
            FAIL() << "session " << session;
        }
    }
    expectBackTo(baseline, 4 * 1024);
}

TEST_F(LongRun, ExposuresFillSeriesAfterSeriesWithoutGrowing) {
    // Full Mouth 21 and Full Mouth 18 in turn: choosing a template empties the tiles, so every
    // exposure goes the whole way to a drawn tile. The sensor's frames are plain ramps: computing a
    // radiograph would take most of the run.
    testenv::plugKnownSensor("SN5151", "U5151", true);
    constexpr int kTemplates[] = {5, 4};
    openAndEnable();
    Resources baseline;
    int exposed = 0;
    for (int round = 0; exposed < kExposures; ++round) {
        if (round == 1) {
            baseline = resources();
        }
        const int templateIndex = kTemplates[round % 2];
        const int count = std::min<int>(static_cast<int>(layoutTemplates()[templateIndex].tiles.size()),
                                        kExposures - exposed);
        onDialogThread([&] {
            QDialog* dialog = acquisitionDialog();
            if (round > 0) {
                // The dialog asks before it erases the tiles' images: the user says yes.
                ui::answerNextQuestionYes(dialog);
            }
            dialog->findChild<QComboBox*>("dropdown")->setCurrentIndex(templateIndex);
        });
        ASSERT_EQ(drawnTiles(), 0) << "round " << round;
        ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).requestExposures("U5151", count),
                  sensorbus::BusStatus::ok);
        ASSERT_TRUE(testenv::eventually([&] { return drawnTiles() == count; }, 120s))
            << "round " << round << ": " << drawnTiles() << " of " << count << " tiles drawn";
        exposed += count;
    }
    expectBackTo(baseline, 64 * 1024);
    disableAndClose();
}

} // namespace
