// Acquisitions from end to end, as imaging applications drive the built source through the stand-in
// DSM: the dialog enabled, simulated exposures drawn into a Biteswing series, Save, the transfers,
// the close request, disable and close.
#include "dsm/dsm_control.h"
#include "imaging/format_image.h"
#include "sensor-sim/bus.h"
#include "sensor-sim/products.h"
#include "sensor-sim/synthetic_image.h"
#include "support/config_file.h"
#include "tests/common/acquisition_checks.h"
#include "tests/common/eventually.h"
#include "tests/common/test_env.h"
#include "tests/common/twain_app.h"
#include "tests/support/app_files.h"
#include "ui/template_layouts.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QThread>
#include <QtGui/QKeyEvent>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QMessageBox>

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testenv::acquisitionDialog;
using testenv::dialogVisible;
using testenv::drawnTiles;
using testenv::expectedPicture;
using testenv::onDialogThread;
using testenv::press;
using namespace std::chrono_literals;

constexpr const char* kSerial = "SN4711";
constexpr const char* kUsbId = "U4711";
constexpr int kBiteswing = 1;

void plugKnownSensor() {
    testenv::plugKnownSensor(kSerial, kUsbId);
}

class Acquisition : public testing::Test {
protected:
    void SetUp() override {
        OstraDsm_resetControls();
        plugKnownSensor();
        ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    }

    void openAndEnable(TW_UINT16 mechanism) {
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
        ASSERT_EQ(app.setOne(ICAP_XFERMECH, TWTY_UINT16, mechanism).first, TWRC_SUCCESS);
        enable();
    }

    void enable() {
        TW_USERINTERFACE ui{1, 0, nullptr};
        ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        ASSERT_TRUE(testenv::eventually(dialogVisible));
    }

    void exposeBiteswing() {
        onDialogThread(
            [] { acquisitionDialog()->findChild<QComboBox*>("dropdown")->setCurrentIndex(kBiteswing); });
        ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).requestExposures(kUsbId, 4), sensorbus::BusStatus::ok);
    }

    // The application's message loop: every event goes to the source until it has something to say.
    TW_UINT16 nextNotification() {
        TW_UINT16 message = MSG_NULL;
        testenv::eventually(
            [&] {
                TW_EVENT event{nullptr, MSG_NULL};
                if (app.call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT &&
                    event.TWMessage != MSG_NULL) {
                    message = event.TWMessage;
                    return true;
                }
                return false;
            },
            60s);
        return message;
    }

    void disableAndClose() {
        TW_USERINTERFACE ui{};
        EXPECT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
        EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
        EXPECT_EQ(OstraDsm_outstandingHandles(), 0u);
    }

    TwainApp app;
};

TEST_F(Acquisition, NativeSeriesAutoSavedThroughTheMessageLoop) {
    updateConfigFile([](ConfigFile& config) { config.auto_save_enabled = true; });
    openAndEnable(TWSX_NATIVE);
    exposeBiteswing();
    // The last tile's image saves the series by itself.
    ASSERT_EQ(nextNotification(), MSG_XFERREADY);
    EXPECT_FALSE(dialogVisible());

    TW_ENTRYPOINT dsm{};
    app.dsm(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &dsm);
    TW_PENDINGXFERS pending{};
    int transferred = 0;
    do {
        TW_IMAGEINFO info{};
        ASSERT_EQ(app.call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        TW_HANDLE bitmap = nullptr;
        ASSERT_EQ(app.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &bitmap), TWRC_XFERDONE);
        const char* bytes = static_cast<const char*>(dsm.DSM_MemLock(bitmap));
        std::int32_t width = 0;
        std::memcpy(&width, bytes + 4, 4);
        EXPECT_EQ(width, info.ImageWidth);
        if (transferred == 0) {
            // The composite of the whole series comes first, padded to whole 32-bit words.
            EXPECT_EQ(width % 4, 0);
        } else {
            const std::vector<char> expected = expectedPicture(kSerial, kBiteswing, transferred, true);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes)) << "image " << transferred;
        }
        dsm.DSM_MemUnlock(bitmap);
        dsm.DSM_MemFree(bitmap);
        ++transferred;
        ASSERT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    } while (pending.Count > 0 && transferred < 10);
    EXPECT_EQ(transferred, 5);

    // Asked to close once the batch is done, and only that: the auto-save never ran a second time.
    EXPECT_EQ(nextNotification(), MSG_CLOSEDSREQ);
    TW_EVENT more{nullptr, MSG_NULL};
    EXPECT_EQ(app.call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &more), TWRC_NOTDSEVENT);
    disableAndClose();
}

TEST_F(Acquisition, MemorySeriesSavedByHandWithACallbackAndNoMessageLoop) {
    openAndEnable(TWSX_MEMORY);
    TW_CALLBACK2 callback{};
    callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&testenv::onNotification);
    ASSERT_EQ(app.call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
    exposeBiteswing();
    ASSERT_TRUE(testenv::eventually([] { return drawnTiles() >= 4; }, 60s));
    press("pushButton");
    ASSERT_TRUE(testenv::notifications().waitFor(MSG_XFERREADY));

    TW_PENDINGXFERS pending{};
    int transferred = 0;
    do {
        TW_IMAGEINFO info{};
        ASSERT_EQ(app.call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        std::vector<char> rows(static_cast<std::size_t>(info.ImageWidth) * info.ImageLength);
        TW_UINT16 rc = TWRC_SUCCESS;
        for (TW_INT32 row = 0; rc == TWRC_SUCCESS && row < info.ImageLength; ++row) {
            TW_IMAGEMEMXFER strip{};
            strip.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            strip.Memory.Length = static_cast<TW_UINT32>(info.ImageWidth);
            strip.Memory.TheMem = rows.data() + static_cast<std::size_t>(row) * info.ImageWidth;
            rc = app.call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
            const TW_UINT32 offset = strip.YOffset; // the record is packed
            EXPECT_EQ(offset, static_cast<TW_UINT32>(row));
        }
        EXPECT_EQ(rc, TWRC_XFERDONE);
        if (transferred > 0) {
            EXPECT_EQ(rows, expectedPicture(kSerial, kBiteswing, transferred, false))
                << "image " << transferred;
        }
        ++transferred;
        ASSERT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    } while (pending.Count > 0 && transferred < 10);
    EXPECT_EQ(transferred, 5);

    ASSERT_TRUE(testenv::notifications().waitFor(MSG_CLOSEDSREQ));
    const auto received = testenv::notifications().all();
    EXPECT_EQ(std::count(received.begin(), received.end(), MSG_XFERREADY), 1);
    disableAndClose();
}

TEST_F(Acquisition, RefusedTransferShowsTheDialogAgainAndEscapeAsksToClose) {
    openAndEnable(TWSX_NATIVE);
    TW_USERINTERFACE ui{1, 0, nullptr};
    TW_UINT16 rc = app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, &ui);
    EXPECT_EQ(rc, TWRC_FAILURE);
    EXPECT_EQ(app.sourceCondition(), TWCC_SEQERROR); // already enabled

    ASSERT_EQ(sensorbus::Bus(testenv::busFolder()).requestExposures(kUsbId, 1), sensorbus::BusStatus::ok);
    ASSERT_TRUE(testenv::eventually([] { return drawnTiles() >= 1; }, 60s));
    // The user picks another template and leaves the question about the image open: it gives way
    // to the application's disable, as No.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            auto* templates = acquisitionDialog()->findChild<QComboBox*>("dropdown");
            templates->setCurrentIndex((templates->currentIndex() + 1) % templates->count());
        },
        Qt::QueuedConnection);
    ASSERT_TRUE(testenv::eventually([] {
        bool asked = false;
        onDialogThread(
            [&] { asked = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; });
        return asked;
    }));
    // Disabled and enabled again: a new dialog shows the same image.
    TW_USERINTERFACE off{};
    ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &off), TWRC_SUCCESS);
    EXPECT_FALSE(dialogVisible());
    enable();
    ASSERT_TRUE(testenv::eventually([] { return drawnTiles() >= 1; }));

    OstraDsm_refuseNotification(MSG_XFERREADY, 1);
    press("pushButton");
    // Refused: the user sees the dialog again, with the image, and can save again.
    ASSERT_TRUE(testenv::eventually([] {
        const auto lines = appfiles::logLines();
        return std::find(lines.begin(), lines.end(), "transfer refused: dialog shown again") != lines.end();
    }));
    ASSERT_TRUE(testenv::eventually([] { return dialogVisible(); }));
    EXPECT_EQ(drawnTiles(), 1);
    TW_EVENT event{nullptr, MSG_NULL};
    EXPECT_EQ(app.call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);

    OstraDsm_refuseNotification(MSG_XFERREADY, 0);
    press("pushButton");
    ASSERT_EQ(nextNotification(), MSG_XFERREADY);
    TW_PENDINGXFERS pending{};
    ASSERT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
    EXPECT_EQ(pending.Count, 1);
    ASSERT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    // The application gives the images up and shows the dialog again.
    TW_USERINTERFACE again{};
    ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &again), TWRC_SUCCESS);
    enable();
    // Esc closes; had the image counted as not handed over, the question is answered Yes.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(acquisitionDialog(), &escape);
        },
        Qt::QueuedConnection);
    ASSERT_TRUE(testenv::eventually([] {
        bool closed = false;
        onDialogThread([&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                box->button(QMessageBox::Yes)->click();
            }
            closed = !acquisitionDialog()->isVisible();
        });
        return closed;
    }));
    EXPECT_EQ(nextNotification(), MSG_CLOSEDSREQ);
    disableAndClose();
}

TEST_F(Acquisition, OnlyUserInterfaceIsRefused) {
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    TW_USERINTERFACE ui{1, 0, nullptr};
    EXPECT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, &ui), TWRC_FAILURE);
    EXPECT_EQ(app.sourceCondition(), TWCC_OPERATIONERROR);
    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
}

TEST_F(Acquisition, QtHostKeepsItsApplicationObjectAndThread) {
    int argc = 0;
    QApplication host(argc, nullptr);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    for (int round = 0; round < 2; ++round) {
        enable();
        EXPECT_EQ(QCoreApplication::instance(), &host);
        EXPECT_EQ(acquisitionDialog()->thread(), host.thread());
        TW_USERINTERFACE ui{};
        EXPECT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
        EXPECT_EQ(acquisitionDialog(), nullptr);
        EXPECT_EQ(QCoreApplication::instance(), &host);
    }
    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
}

} // namespace

namespace {

TEST_F(Acquisition, HostWithoutWidgetsGetsAFailureNotAnAbort) {
    int argc = 0;
    QCoreApplication host(argc, nullptr);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    TW_USERINTERFACE ui{1, 0, reinterpret_cast<TW_HANDLE>(0x4711)};
    EXPECT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_FAILURE);
    EXPECT_EQ(app.sourceCondition(), TWCC_BUMMER);
    // Still in state 4: the source closes.
    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
}

} // namespace
