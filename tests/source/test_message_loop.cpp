// A Linux application whose message loop passes every event with MSG_PROCESSEVENT, as Windows
// applications do, and says so (OSTRA_TWAIN_EVENTS=process): the source's dialog lives on the
// application's thread and turns only inside those calls, the questions' event loops included.
#include "dsm/dsm_control.h"
#include "platform/host_window.h"
#include "sensor-sim/bus.h"
#include "tests/common/acquisition_checks.h"
#include "tests/common/test_env.h"
#include "tests/common/twain_app.h"
#include "tests/support/app_files.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QMessageBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testenv::acquisitionDialog;

constexpr const char* kSerial = "SN7070";
constexpr const char* kUsbId = "U7070";

long logged(const std::string& line) {
    const auto lines = appfiles::logLines();
    return std::count(lines.begin(), lines.end(), line);
}

// What the application's callback saw, and what it did from inside the close request.
std::vector<TW_UINT16> told;
TwainApp* closingApp = nullptr;
std::optional<TW_UINT16> disabledInside;

TW_UINT16 TW_CALLINGSTYLE disableOnCloseRequest(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16,
                                                TW_UINT16 msg, TW_MEMREF) {
    told.push_back(msg);
    if (msg == MSG_CLOSEDSREQ && closingApp != nullptr) {
        TW_USERINTERFACE ui{};
        disabledInside = closingApp->call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }
    return TWRC_SUCCESS;
}

class MessageLoop : public testing::Test {
protected:
    void SetUp() override {
        platform::announceApplicationTurnsSourceEvents();
        OstraDsm_resetControls();
        testenv::plugKnownSensor(kSerial, kUsbId, true);
        ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    }

    void openAndEnable() {
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
        ASSERT_EQ(app.setOne(ICAP_XFERMECH, TWTY_UINT16, TWSX_NATIVE).first, TWRC_SUCCESS);
        TW_USERINTERFACE ui{1, 0, nullptr};
        ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        // Created on this very thread, where nothing but MSG_PROCESSEVENT turns it.
        ASSERT_NE(QCoreApplication::instance(), nullptr);
        ASSERT_EQ(QCoreApplication::instance()->thread(), QThread::currentThread());
        ASSERT_TRUE(turnUntil(testenv::dialogVisible));
    }

    // The message loop: each turn passes an event, until `done` holds (a minute at most); the
    // notifications the source answers with are kept.
    bool turnUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!done() && app.sourceOpen() && std::chrono::steady_clock::now() < deadline) {
            TW_EVENT event{nullptr, MSG_NULL};
            if (app.call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT &&
                event.TWMessage != MSG_NULL) {
                told.push_back(event.TWMessage);
            }
            std::this_thread::sleep_for(5ms);
        }
        return done();
    }

    void exposeOne() {
        const int drawn = testenv::drawnTiles();
        ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).requestExposures(kUsbId, 1), sensorbus::BusStatus::ok);
        ASSERT_TRUE(turnUntil([drawn] { return testenv::drawnTiles() > drawn; }));
    }

    // Clicks the dialog's Esc (close) the way the user does: inside the next MSG_PROCESSEVENT.
    static void closeDialogInsideTheLoop() {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] { acquisitionDialog()->close(); }, Qt::QueuedConnection);
    }

    // Answers the dialog's question from the application's own timer, which ticks inside the
    // question's event loop (beneath MSG_PROCESSEVENT). Goes with the application object.
    static void whenAsked(std::function<void(QMessageBox&)> answer) {
        auto* clock = new QTimer(QCoreApplication::instance());
        QObject::connect(clock, &QTimer::timeout, clock, [clock, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr && box->isVisible()) {
                clock->stop();
                answer(*box);
            }
        });
        clock->start(20);
    }

    TwainApp app;
};

TEST_F(MessageLoop, DialogTurnsInsideProcessEventFromEnableToDisableInsideTheCloseRequest) {
    openAndEnable();
    EXPECT_EQ(logged("user interface events turned by the application's message loop"), 1);
    exposeOne();

    // Esc with an unsaved image: the question is answered No inside MSG_PROCESSEVENT.
    whenAsked([](QMessageBox& box) { box.button(QMessageBox::No)->click(); });
    closeDialogInsideTheLoop();
    ASSERT_TRUE(turnUntil([] { return logged("close cancelled") == 1; }));
    EXPECT_TRUE(testenv::dialogVisible());

    // Save inside the loop: the notice comes back in the answer to MSG_PROCESSEVENT.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { testenv::press("pushButton"); }, Qt::QueuedConnection);
    ASSERT_TRUE(turnUntil([] { return std::count(told.begin(), told.end(), MSG_XFERREADY) == 1; }));
    TW_HANDLE image = nullptr;
    ASSERT_EQ(app.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image), TWRC_XFERDONE);
    TW_ENTRYPOINT memory{};
    app.dsm(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &memory);
    memory.DSM_MemFree(image);
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 0);
    TW_USERINTERFACE ui{};
    ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);

    // Enabled again: the application's timer disables and closes from inside the question's event
    // loop. The dialog and the application object go once that MSG_PROCESSEVENT has returned.
    ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    ASSERT_TRUE(turnUntil(testenv::dialogVisible));
    exposeOne();
    std::optional<TW_UINT16> disabled;
    std::optional<TW_UINT16> closed;
    whenAsked([&](QMessageBox&) {
        TW_USERINTERFACE off{};
        disabled = app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &off);
        closed = app.closeSource();
    });
    closeDialogInsideTheLoop();
    turnUntil([&] { return closed.has_value(); });
    EXPECT_EQ(disabled, TWRC_SUCCESS);
    EXPECT_EQ(closed, TWRC_SUCCESS);
    EXPECT_EQ(QCoreApplication::instance(), nullptr) << "the application object outlived the source";

    // Opened again, the source takes no leftover application object for a host's. Closing the dialog
    // without images asks nothing: the close request comes, and the callback disables inside it.
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&disableOnCloseRequest);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    ASSERT_EQ(app.call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
    closingApp = &app;
    ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    ASSERT_TRUE(turnUntil(testenv::dialogVisible));
    EXPECT_EQ(logged("user interface on the host's application thread"), 0);
    EXPECT_EQ(logged("user interface events turned by the application's message loop"), 2);
    closeDialogInsideTheLoop();
    ASSERT_TRUE(turnUntil([] { return disabledInside.has_value(); }));
    closingApp = nullptr;
    EXPECT_EQ(disabledInside, TWRC_SUCCESS);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
}

} // namespace
