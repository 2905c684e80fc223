// A sensor plugged for the first time: its work folder holds no correction files, so the source's
// dialog asks for them; the user gives the folder of the sensor's calibration disk and the sensor
// starts and delivers an exposure into a tile.
#include "dsm/dsm_control.h"
#include "sensor-sim/bus.h"
#include "sensor-sim/command.h"
#include "tests/common/acquisition_checks.h"
#include "tests/common/eventually.h"
#include "tests/common/test_env.h"
#include "tests/common/twain_app.h"
#include "tests/ui/dialog_fixture.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QLabel>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

using namespace std::chrono_literals;

using testenv::acquisitionDialog;
using testenv::onDialogThread;

constexpr const char* kSerial = "SN5150";

std::string sensorSim(std::vector<std::string> args) {
    std::ostringstream out, err;
    EXPECT_EQ(sensorsim::runCommand(args, out, err), sensorsim::kExitOk) << err.str();
    return out.str();
}

TW_UINT16 TW_CALLINGSTYLE ignoreNotification(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16,
                                             TW_MEMREF) {
    return TWRC_SUCCESS;
}

TEST(FirstSensor, CorrectionsFromItsCalibrationDiskLetItAcquire) {
    OstraDsm_resetControls();
    sensorSim({"plug", kSerial});
    const std::string listed = sensorSim({"list"});
    const auto at = listed.find("corrections=");
    ASSERT_NE(at, std::string::npos) << listed;
    const std::string disk = listed.substr(at + 12, listed.find('\n', at) - at - 12);

    TwainApp app;
    ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    TW_USERINTERFACE ui{1, 0, nullptr};
    ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&ignoreNotification);
    ASSERT_EQ(app.call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
    ASSERT_TRUE(testenv::eventually([] {
        bool visible = false;
        onDialogThread([&] { visible = acquisitionDialog() != nullptr && acquisitionDialog()->isVisible(); });
        return visible;
    }));

    std::unique_ptr<uitest::Answerer> answerer;
    onDialogThread([&] {
        answerer = std::make_unique<uitest::Answerer>(
            std::deque<uitest::Answerer::Answer>{{QMessageBox::Ok, {}}, {QMessageBox::NoButton, disk}});
    });
    std::vector<QString> shown;
    ASSERT_TRUE(testenv::eventually(
        [&] {
            onDialogThread([&] { shown = answerer->shown; });
            return shown.size() >= 2;
        },
        60s));
    EXPECT_EQ(shown, (std::vector<QString>{"Please select the device calibration files.", "chooser"}));

    const auto drawn = [] {
        int tiles = 0;
        onDialogThread([&] {
            for (auto* view :
                 acquisitionDialog()->findChild<QWidget*>("widget")->findChildren<QGraphicsView*>()) {
                tiles += view->isVisible() && view->scene() != nullptr && !view->scene()->items().isEmpty();
            }
        });
        return tiles;
    };
    // The sensor takes exposures once it has started again with the copied files.
    bool received = false;
    for (int attempt = 0; attempt < 20 && !received; ++attempt) {
        sensorSim({"expose"});
        received = testenv::eventually([&] { return drawn() >= 1; }, 3s);
    }
    EXPECT_TRUE(received);
    onDialogThread([&] { shown = answerer->shown; });
    EXPECT_EQ(shown.size(), 2u) << "no second question";
    EXPECT_TRUE(std::filesystem::exists(testenv::appDataFolder() / "vanto_sensor" / "work_dir" / kSerial /
                                        "Correct" / "Default" / (std::string(kSerial) + ".gn")));

    onDialogThread([&] { answerer.reset(); });
    TW_USERINTERFACE off{};
    EXPECT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &off), TWRC_SUCCESS);
    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
}

} // namespace
