// Applications that call the source while it waits on them: from inside its notification (taking
// the images, disabling, closing before they return), from inside the event loop of one of the
// dialog's questions, and from a second thread while the first one is inside the notification.
// Each must get its answer, and nothing of the dialog may be used once it is gone.
#include "dsm/dsm_control.h"
#include "sensor-sim/bus.h"
#include "tests/common/acquisition_checks.h"
#include "tests/common/eventually.h"
#include "tests/common/test_env.h"
#include "tests/common/twain_app.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testenv::acquisitionDialog;
using testenv::onDialogThread;

constexpr const char* kSerial = "SN6060";
constexpr const char* kUsbId = "U6060";

// The known sensor, its correction files gone: the dialog asks for them as soon as it shows.
void plugSensorWithoutCorrections() {
    testenv::plugKnownSensor(kSerial, kUsbId);
    fs::remove_all(testenv::appDataFolder() / "vanto_sensor" / "work_dir" / kSerial / "Correct");
}

// The modal question the dialog shows now (a message box or the folder chooser), or null; on the
// dialog's thread.
QDialog* openQuestion() {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    return modal != nullptr && modal->objectName() != "twaindialog" && modal->isVisible() ? modal : nullptr;
}

// Runs `call` on a thread of its own: its answer, or none when it did not return within the bound
// (the source then hangs the application).
std::optional<TW_UINT16> within(std::chrono::seconds bound, std::function<TW_UINT16()> call) {
    auto answer = std::async(std::launch::async, std::move(call));
    if (answer.wait_for(bound) != std::future_status::ready) {
        // Left running: the test fails, and the process ends with it.
        new auto(std::move(answer));
        return std::nullopt;
    }
    return answer.get();
}

class Reentrant : public testing::Test {
protected:
    void SetUp() override {
        OstraDsm_resetControls();
        ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    }

    void enable() {
        TW_USERINTERFACE ui{1, 0, nullptr};
        ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    }

    TW_UINT16 disable() {
        TW_USERINTERFACE ui{};
        return app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }

    TwainApp app;
};

// The source's own user-interface thread: whichever of the corrections exchange's questions is
// open (the first question, the folder chooser, and "Try Again?" after it), the application's
// disable and close get through, and the questions the exchange goes on to ask give way too.
TEST_F(Reentrant, CorrectionsExchangeGivesWayToDisableAndClose) {
    plugSensorWithoutCorrections();
    for (const bool inChooser : {false, true}) {
        SCOPED_TRACE(inChooser ? "folder chooser open" : "first question open");
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
        enable();
        ASSERT_TRUE(testenv::eventually(
            [] {
                bool asked = false;
                onDialogThread([&] { asked = qobject_cast<QMessageBox*>(openQuestion()) != nullptr; });
                return asked;
            },
            60s));
        if (inChooser) {
            onDialogThread(
                [] { qobject_cast<QMessageBox*>(openQuestion())->button(QMessageBox::Ok)->click(); });
            ASSERT_TRUE(testenv::eventually([] {
                bool choosing = false;
                onDialogThread([&] { choosing = qobject_cast<QFileDialog*>(openQuestion()) != nullptr; });
                return choosing;
            }));
        }
        EXPECT_EQ(within(30s, [this] { return disable(); }), TWRC_SUCCESS);
        EXPECT_EQ(within(30s, [this] { return app.closeSource(); }), TWRC_SUCCESS);
        if (HasFailure()) {
            return;
        }
    }
}

// A Qt host turns the events itself: the disable and the close come from inside the event loop of
// the dialog's question. The question gives way, and the dialog goes once that loop has returned.
TEST_F(Reentrant, QtHostDisablesAndClosesFromInsideAQuestion) {
    int argc = 0;
    QApplication host(argc, nullptr);
    plugSensorWithoutCorrections();
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    enable();
    std::optional<TW_UINT16> disabled;
    std::optional<TW_UINT16> closed;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!disabled && openQuestion() != nullptr) {
            disabled = disable();
            closed = app.closeSource();
        }
    });
    watch.start(50);
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while ((!closed || acquisitionDialog() != nullptr) && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    EXPECT_EQ(disabled, TWRC_SUCCESS);
    EXPECT_EQ(closed, TWRC_SUCCESS);
    EXPECT_EQ(acquisitionDialog(), nullptr);
    EXPECT_EQ(openQuestion(), nullptr);
}

} // namespace
