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
#include "tests/support/app_files.h"
#include "ui/acquisition_dialog_lookup.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>

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
    return modal != nullptr && !ui::isAcquisitionDialog(modal) && modal->isVisible() ? modal : nullptr;
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

    // A Qt host's message loop: every turn passed with MSG_PROCESSEVENT while the source is open, Qt's
    // own events once it is closed, until `done` holds (a minute at most).
    bool turnUntil(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (!done() && std::chrono::steady_clock::now() < deadline) {
            TW_EVENT event{nullptr, MSG_NULL};
            if (app.sourceOpen()) {
                app.call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
            } else {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            }
        }
        return done();
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

// What the application's callback does from inside the notification, and what it found.
struct InsideWork {
    TwainApp* app = nullptr;
    TW_ENTRYPOINT memory{};
    int transferred = 0;
    bool probed = false;
    bool probeAnswered = false;
    std::optional<TW_UINT16> disabled;
    std::optional<TW_UINT16> closed;
};
InsideWork* work = nullptr;

// Told that images are ready: a second thread of the application asks the source something and is
// waited for (no lock of the source's may be held now); then every image, disable and close.
TW_UINT16 TW_CALLINGSTYLE workInside(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                     TW_MEMREF) {
    if (work == nullptr || msg != MSG_XFERREADY) {
        return testenv::onNotification(nullptr, nullptr, 0, 0, msg, nullptr);
    }
    TwainApp& app = *work->app;
    work->probed = true;
    work->probeAnswered = within(5s, [&app] {
                              TW_PENDINGXFERS pending{};
                              return app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending);
                          }).has_value();
    TW_PENDINGXFERS pending{};
    do {
        TW_HANDLE image = nullptr;
        if (app.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image) != TWRC_XFERDONE) {
            break;
        }
        work->memory.DSM_MemFree(image);
        ++work->transferred;
        pending = TW_PENDINGXFERS{};
        app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    } while (pending.Count != 0 && work->transferred < 10);
    TW_USERINTERFACE ui{};
    work->disabled = app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    work->closed = app.closeSource();
    return testenv::onNotification(nullptr, nullptr, 0, 0, msg, nullptr);
}

// A Qt host passes its events with MSG_PROCESSEVENT and Save is clicked inside one of them: the
// notification goes out with no lock held, and the application takes the image, disables and
// closes from inside it.
TEST_F(Reentrant, QtHostWorksInsideTheNotificationOfASaveClickedInsideProcessEvent) {
    int argc = 0;
    QApplication host(argc, nullptr);
    testenv::plugKnownSensor(kSerial, kUsbId);
    InsideWork inside;
    inside.app = &app;
    app.dsm(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &inside.memory);
    work = &inside;
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&workInside);
    ASSERT_EQ(app.call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
    enable();
    ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).requestExposures(kUsbId, 1), sensorbus::BusStatus::ok);
    ASSERT_TRUE(turnUntil([] { return testenv::drawnTiles() >= 1; }));
    QMetaObject::invokeMethod(
        &host, [] { acquisitionDialog()->findChild<QAbstractButton*>("pushButton")->click(); },
        Qt::QueuedConnection);
    ASSERT_TRUE(turnUntil([&] { return inside.closed && acquisitionDialog() == nullptr; }));
    work = nullptr;
    EXPECT_TRUE(inside.probed);
    EXPECT_TRUE(inside.probeAnswered) << "a lock of the source was held while it posted";
    EXPECT_EQ(inside.transferred, 1);
    EXPECT_EQ(inside.disabled, TWRC_SUCCESS);
    EXPECT_EQ(inside.closed, TWRC_SUCCESS);
}

// The application's callback disables the source too while the application's main thread is
// disabling it: that disable waits for the user-interface thread, on which the callback runs.
struct CrossedCalls {
    TwainApp* app = nullptr;
    std::promise<void> told;
    std::optional<TW_UINT16> askedInside;
};
CrossedCalls* crossed = nullptr;

TW_UINT16 TW_CALLINGSTYLE askWhileDisabled(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                           TW_MEMREF) {
    if (crossed == nullptr || msg != MSG_XFERREADY) {
        return testenv::onNotification(nullptr, nullptr, 0, 0, msg, nullptr);
    }
    CrossedCalls& calls = *std::exchange(crossed, nullptr);
    // The images are given up (state 5), and the application's other thread told to disable.
    TW_PENDINGXFERS pending{};
    calls.app->call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    calls.told.set_value();
    // The disable is under way on the main thread before the callback calls.
    testenv::eventually(
        [] {
            const auto lines = appfiles::logLines();
            return std::find(lines.begin(), lines.end(), "userInterfaceDisable") != lines.end();
        },
        10s);
    std::this_thread::sleep_for(100ms);
    TW_USERINTERFACE ui{};
    calls.askedInside = calls.app->call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    return TWRC_SUCCESS;
}

// The main thread disables while the callback, on the source's thread, calls in: both get their
// answer, the disable first (it came first), and neither waits for the other for ever.
TEST_F(Reentrant, DisableFromTheMainThreadWhileTheCallbackCallsIn) {
    testenv::plugKnownSensor(kSerial, kUsbId, true);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    CrossedCalls calls;
    calls.app = &app;
    crossed = &calls;
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&askWhileDisabled);
    ASSERT_EQ(app.call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
    enable();
    ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).requestExposures(kUsbId, 1), sensorbus::BusStatus::ok);
    ASSERT_TRUE(testenv::eventually([] { return testenv::drawnTiles() >= 1; }, 60s));
    testenv::press("pushButton");
    ASSERT_EQ(calls.told.get_future().wait_for(60s), std::future_status::ready);
    EXPECT_EQ(within(30s, [this] { return disable(); }), TWRC_SUCCESS);
    ASSERT_TRUE(testenv::eventually([&] { return calls.askedInside.has_value(); }, 30s))
        << "the callback's call was never answered";
    EXPECT_EQ(calls.askedInside, TWRC_FAILURE) << "the second disable is out of sequence";
    EXPECT_EQ(within(30s, [this] { return app.closeSource(); }), TWRC_SUCCESS);
}

// The same with a Qt host, whose event loop turns the dialog: the notification comes inside its
// MSG_PROCESSEVENT, and another thread of the host disables meanwhile.
TEST_F(Reentrant, QtHostDisableFromAnotherThreadWhileTheCallbackCallsIn) {
    int argc = 0;
    QApplication host(argc, nullptr);
    testenv::plugKnownSensor(kSerial, kUsbId, true);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    CrossedCalls calls;
    calls.app = &app;
    crossed = &calls;
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&askWhileDisabled);
    ASSERT_EQ(app.call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
    enable();
    ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).requestExposures(kUsbId, 1), sensorbus::BusStatus::ok);
    ASSERT_TRUE(turnUntil([] { return testenv::drawnTiles() >= 1; }));
    std::optional<TW_UINT16> disabled;
    std::thread other([&, told = calls.told.get_future()]() mutable {
        if (told.wait_for(60s) == std::future_status::ready) {
            disabled = within(30s, [this] { return disable(); }).value_or(TWRC_CHECKSTATUS);
        }
    });
    QMetaObject::invokeMethod(
        &host, [] { acquisitionDialog()->findChild<QAbstractButton*>("pushButton")->click(); },
        Qt::QueuedConnection);
    const bool answered = turnUntil([&] { return calls.askedInside.has_value(); });
    other.join();
    ASSERT_TRUE(answered) << "the callback's call was never answered";
    EXPECT_EQ(disabled, TWRC_SUCCESS) << "TWRC_CHECKSTATUS: the other thread's disable hung";
    EXPECT_EQ(calls.askedInside, TWRC_FAILURE) << "the second disable is out of sequence";
    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
}

// Lands one exposure while the acquisition dialog is still being built: at its last step (the
// template list shown or hidden for the mode), after every reset of its construction. Waits until the
// image is stored; the host's own thread.
class ExposureDuringConstruction : public QObject {
public:
    bool eventFilter(QObject* object, QEvent* event) override {
        const auto type = event->type();
        if (landed || !armed || (type != QEvent::ShowToParent && type != QEvent::HideToParent) ||
            object->objectName() != "dropdown") {
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget == nullptr || widget->window()->objectName() != "twaindialog" ||
            widget->window()->isVisible()) {
            return false;
        }
        const auto received = [] {
            const auto lines = appfiles::logLines();
            return std::count(lines.begin(), lines.end(), "image received");
        };
        const auto before = received();
        landed =
            sensorbus::Bus(testenv::busFolder()).requestExposures(kUsbId, 1) == sensorbus::BusStatus::ok &&
            testenv::eventually([&] { return received() > before; }, 30s);
        return false;
    }
    bool armed = false;
    bool landed = false;
};

// Enabled again after a disable, the dialog keeps the earlier series; an exposure that lands while
// the new dialog is built, before the series is put back, is added to it and drops nothing.
TEST_F(Reentrant, ExposureWhileTheDialogIsBuiltAgainKeepsTheEarlierSeries) {
    int argc = 0;
    QApplication host(argc, nullptr);
    testenv::plugKnownSensor(kSerial, kUsbId, true);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&testenv::onNotification);
    ASSERT_EQ(app.call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
    enable();
    ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).requestExposures(kUsbId, 1), sensorbus::BusStatus::ok);
    ASSERT_TRUE(turnUntil([] { return testenv::drawnTiles() >= 1; }));
    ASSERT_EQ(disable(), TWRC_SUCCESS);

    ExposureDuringConstruction exposure;
    host.installEventFilter(&exposure);
    exposure.armed = true;
    enable();
    host.removeEventFilter(&exposure);
    ASSERT_TRUE(exposure.landed) << "the exposure did not land while the dialog was built";

    QMetaObject::invokeMethod(
        &host, [] { acquisitionDialog()->findChild<QAbstractButton*>("pushButton")->click(); },
        Qt::QueuedConnection);
    ASSERT_TRUE(turnUntil([] {
        const auto received = testenv::notifications().all();
        return std::find(received.begin(), received.end(), MSG_XFERREADY) != received.end();
    }));
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 2) << "the earlier exposure and the one that landed meanwhile";
    ASSERT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(disable(), TWRC_SUCCESS);
    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
}

// The source's own thread posts: a refused close request shows the dialog again, and a disable that
// comes while the notice of ready images is still on its way is answered as in state 5.
TEST_F(Reentrant, RefusedCloseShowsTheDialogAndDisableBeforeTheNoticeSucceeds) {
    testenv::plugKnownSensor(kSerial, kUsbId);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&testenv::onNotification);
    ASSERT_EQ(app.call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
    enable();
    ASSERT_TRUE(testenv::eventually(testenv::dialogVisible));

    OstraDsm_refuseNotification(MSG_CLOSEDSREQ, 1);
    onDialogThread([] { acquisitionDialog()->close(); });
    const auto logged = [](const std::string& line) {
        const auto lines = appfiles::logLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    EXPECT_TRUE(testenv::eventually([&] { return logged("close refused: dialog shown again"); }, 10s));
    EXPECT_TRUE(testenv::eventually(testenv::dialogVisible, 10s))
        << "the refused close left the dialog hidden";
    OstraDsm_refuseNotification(MSG_CLOSEDSREQ, 0);

    ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).requestExposures(kUsbId, 1), sensorbus::BusStatus::ok);
    ASSERT_TRUE(testenv::eventually([] { return testenv::drawnTiles() >= 1; }, 60s));
    OstraDsm_holdNotification(MSG_XFERREADY);
    testenv::press("pushButton");
    ASSERT_TRUE(testenv::eventually([] { return OstraDsm_heldNotifications() == 1; }));
    // The application has not been told: it is in state 5 and disables. Let the notice go a moment later.
    std::thread release([] {
        std::this_thread::sleep_for(200ms);
        OstraDsm_holdNotification(MSG_NULL);
    });
    EXPECT_EQ(within(30s, [this] { return disable(); }), TWRC_SUCCESS);
    release.join();
    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
}

} // namespace
