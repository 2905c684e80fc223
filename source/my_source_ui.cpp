// The user-interface half of the source: the acquisition dialog shown inside the application's
// process, and the dialog's save and close turned into MSG_XFERREADY and MSG_CLOSEDSREQ.
//
// Threads: the Qt objects below live on the user-interface thread (see ui_thread.h) and are
// touched only there. The source's state is guarded by the entry lock; the user-interface thread
// only ever tries that lock (and tries again a moment later), because the application's thread may
// hold it while it waits for a task on the user-interface thread. No lock that DS_Entry takes is
// held while a notification is posted: the application may call in again from its callback.
#include "device/device_status.h"
#include "platform/host_window.h"
#include "platform/module.h"
#include "source/my_source.h"
#include "source/twpp/registry.h"
#include "source/ui_thread.h"
#include "support/log.h"
#include "ui/my_application.h"
#include "ui/twaindialog.h"

#include <QtCore/QCoreApplication>
#include <QtGui/QGuiApplication>
#include <QtGui/QWindow>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

using Twpp::EntryLock;
using Twpp::Result;

namespace {

// Process-wide user-interface objects, touched only on the user-interface thread.
QWidget* hostWidget = nullptr;
// The application's window as a Qt foreign window, when the toolkit embeds the host widget.
QWindow* foreignParent = nullptr;
TW_HANDLE lockedParentWindow = nullptr;
// The argument count of the source's application object; lives as long as that object.
int applicationArgc = 0;

// How long the user-interface thread waits before it tries the entry lock again.
constexpr int kRetryMilliseconds = 5;

platform::NativeWindow nativeWindow(TW_HANDLE handle) {
    return reinterpret_cast<platform::NativeWindow>(handle);
}

// The host widget and its foreign parent go like the dialog (its child): at once, or once the
// event loops of the dialog's questions have returned.
void destroyHostWidget() {
    UiThread& ui = UiThread::instance();
    ui.retire(std::unique_ptr<QObject>(std::exchange(hostWidget, nullptr)));
    ui.retire(std::unique_ptr<QObject>(std::exchange(foreignParent, nullptr)));
}

void unlockParentWindow() {
    if (lockedParentWindow != nullptr) {
        platform::enableWindow(nativeWindow(lockedParentWindow), true);
        lockedParentWindow = nullptr;
    }
}

// Creates the source's application object where no one else has one.
void createApplication() {
    UiThread& ui = UiThread::instance();
    if (!ui.createsApplication()) {
        return;
    }
    ui.collect(true);
    if (ui.reuseApplication()) {
        // Disabled while a question was open: its application object was still waiting to go.
        return;
    }
    if (const auto folder = platform::driverFolder()) {
        // Qt's plug-ins are installed beside the data source.
        const QByteArray path = QByteArray::fromStdString(folder->string());
        qputenv("QT_PLUGIN_PATH", path);
        QCoreApplication::addLibraryPath(QString::fromStdString(folder->string()));
    }
    if (!platform::displayAvailable() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        // Without a display Qt would end the whole process; the dialog is drawn off screen.
        writeString("userInterfaceEnable no display: offscreen");
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ui.destroyApplication();
    ui.routeQtMessages();
    applicationArgc = 0;
    ui.adoptApplication(std::make_unique<MyApplication>(applicationArgc, nullptr));
}

// Parents the host widget to the application's window and disables that window.
void lockParentWindow(TW_HANDLE parent) {
    destroyHostWidget();
    hostWidget = new QWidget();
    const platform::NativeWindow own = hostWidget->winId();
    platform::addChildStyle(own);
    if (!platform::setNativeParent(own, nativeWindow(parent)) &&
        QGuiApplication::platformName() == QLatin1String("xcb")) {
        foreignParent = QWindow::fromWinId(static_cast<WId>(nativeWindow(parent)));
        if (foreignParent != nullptr && hostWidget->windowHandle() != nullptr) {
            hostWidget->windowHandle()->setParent(foreignParent);
        }
    }
    writeString("locking parent window");
    lockedParentWindow = parent;
    platform::enableWindow(nativeWindow(parent), false);
}

// Posts a notification of the source `source` to the application `app` through the DSM.
TW_UINT16 post(DSMENTRYPROC entry, Twpp::Identity source, Twpp::Identity app, TW_UINT16 msg) {
    if (entry == nullptr) {
        return TWRC_FAILURE;
    }
    return entry(&source, &app, DG_CONTROL, DAT_NULL, msg, nullptr);
}

// Runs f with the entry lock held, now if it is free, else a moment later; on the user-interface
// thread only.
template <typename F> void whenEntryFree(F f) {
    // Held by this very thread (a Qt host turning the events inside MSG_PROCESSEVENT): taking it
    // once more and releasing that level would still leave it held while the notification goes out.
    std::unique_lock<EntryLock> lock;
    if (!EntryLock::instance().heldByThisThread()) {
        lock = std::unique_lock(EntryLock::instance(), std::try_to_lock);
    }
    if (!lock.owns_lock()) {
        UiThread::instance().postDelayed(kRetryMilliseconds, [f] { whenEntryFree(f); });
        return;
    }
    f(lock);
}

} // namespace

void MySource::logEventState() const {
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    writeLog([&](std::ofstream& out) {
        out << "deviceStat: " << (deviceStatus->status() == 3 ? "true" : "false") << std::endl;
        out << "sCorr: " << (deviceStatus->failureSeen() ? "true" : "false") << " time: " << micros
            << std::endl;
    });
}

Result MySource::userInterfaceEnable(const Identity&, TW_USERINTERFACE& data) {
    writeString("userInterfaceEnable ui");
    if (!deviceWrapper) {
        return Twpp::seqError();
    }
    UiThread& ui = UiThread::instance();
    ui.start();
    const TW_HANDLE parent = data.hParent;
    const bool connected = deviceStatus->status() == 4;
    const std::shared_ptr<DeviceWrapper> wrapper = deviceWrapper;
    const std::shared_ptr<DeviceStatus> status = deviceStatus;
    const bool dispatchOnUiThread = !ui.eventsTurnedByCaller() || !ui.createsApplication();
    ui.run([&] {
        try {
            writeString("userInterfaceEnable ui 1.1");
            createApplication();
            if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
                // A host whose Qt application object has no widgets: creating one would end its process.
                writeString("userInterfaceEnable no widget application");
                throw std::runtime_error("no widget application");
            }
            writeString("userInterfaceEnable ui 2");
            if (parent != nullptr) {
                lockParentWindow(parent);
            }
            writeString("userInterfaceEnable ui 3");
            // The images of an earlier enable stay: the new dialog starts from an empty template,
            // so they are put back after its construction and drawn again into its empty tiles.
            const ImageHolder::Images kept = wrapper->images->snapshot();
            auto dialog = std::make_unique<twaindialog>(wrapper->state, wrapper->indices, wrapper->retaker,
                                                        wrapper->images, wrapper->changes, wrapper->config,
                                                        status, connected, hostWidget);
            wrapper->images->withImages([&kept](ImageHolder::Images& images) {
                // An exposure may have landed since the construction emptied the queue: it comes
                // after the kept images, as the next one of their series.
                ImageHolder::Images merged = kept;
                merged.insert(merged.end(), images.begin(), images.end());
                images = std::move(merged);
                for (const auto& image : images) {
                    image->rendered = false;
                }
            });
            twaindialog* shown = dialog.get();
            if (dispatchOnUiThread) {
                // Queued: the application may disable or even close the source from inside the
                // notification, and nothing of the dialog's closing may be on the stack then.
                QObject::connect(shown, &QDialog::finished, shown,
                                 [](int) { UiThread::instance().post(&MySource::dispatchRequests); });
            }
            wrapper->setDialog(std::move(dialog));
            writeString("userInterfaceEnable ui 3.1");
            writeTwoString("static instance value: ", wrapper->hasDialog() ? "true" : "false");
            writeString("userInterfaceEnable ui 4");
            shown->show();
        } catch (...) {
            // A failed enable leaves the application's window usable.
            wrapper->takeDialog().reset();
            unlockParentWindow();
            destroyHostWidget();
            throw;
        }
    });
    return Twpp::success();
}

Result MySource::userInterfaceEnableUiOnly(const Identity&, TW_USERINTERFACE&) {
    writeString("userInterfaceEnableUiOnly");
    return Twpp::failure(TWCC_OPERATIONERROR);
}

Result MySource::userInterfaceDisable(const Identity&, TW_USERINTERFACE&) {
    writeString("userInterfaceDisable");
    const std::shared_ptr<DeviceWrapper> wrapper = deviceWrapper;
    UiThread::instance().run([&] {
        writeString("userInterfaceDisable 1");
        if (wrapper) {
            // Disabled from inside one of the dialog's questions, the dialog's code is still on the
            // stack: it goes once that has returned.
            UiThread::instance().retire(wrapper->takeDialog());
        }
        writeString("userInterfaceDisable 2");
        writeString("userInterfaceDisable 3");
        if (wrapper) {
            wrapper->retaker->reset();
        }
        writeString("userInterfaceDisable 4");
        if (wrapper) {
            wrapper->indices->selected = -1;
        }
        writeString("userInterfaceDisable 5");
        if (wrapper) {
            wrapper->state->action = UIState::Nothing;
        }
        writeString("userInterfaceDisable 6");
        writeString("userInterfaceDisable 7");
        unlockParentWindow();
        writeString("userInterfaceDisable 8");
        // The host widget goes before the application object that it belongs to.
        destroyHostWidget();
        UiThread::instance().destroyApplication();
    });
    writeString("userInterfaceDisable success");
    return Twpp::success();
}

Result MySource::eventProcess(const Identity&, TW_EVENT& data) {
    writeString("eventProcess");
    UiThread& ui = UiThread::instance();
    if (!ui.applicationExists()) {
        data.TWMessage = MSG_NULL;
        return Result(TWRC_NOTDSEVENT, TWCC_SUCCESS);
    }
    writeString("eventProcess application events process");
    if (ui.eventsTurnedByCaller() && ui.isUiThread()) {
        {
            const UiThread::Turning turning;
            QCoreApplication::processEvents();
        }
        // Also when this source was closed meanwhile from within the events (a question's event
        // loop reaches the application's own windows and timers): its application object, left
        // waiting for a safe point, goes here, for nothing else of the caller's turns any more.
        ui.runQueued();
        if (!contains(this)) {
            data.TWMessage = MSG_NULL;
            return Result(TWRC_NOTDSEVENT, TWCC_SUCCESS);
        }
    }
    writeString("event processing finished");
    logEventState();

    // The request is taken here only on the dialog's own thread. Elsewhere the dialog may be between
    // writing its save and closing itself; its own thread posts the notification once it is done.
    std::uint8_t action = UIState::Nothing;
    if (deviceWrapper && ui.isUiThread()) {
        action = deviceWrapper->state->action.exchange(UIState::Nothing);
    }
    const TW_UINT32 appId = appIdentity().Id;
    const auto wrapper = deviceWrapper;
    const DSMENTRYPROC entry = Twpp::Registry::dsmEntry();
    switch (action) {
    case UIState::CloseRequested: {
        writeString("Close");
        bool posted = false;
        const TW_UINT16 before = state();
        if (before >= 5 && before <= 7) {
            TW_UINT16 rc;
            {
                EntryLock::Released unlocked;
                rc = post(entry, sourceIdentity(), appIdentity(), MSG_CLOSEDSREQ);
            }
            posted = rc == TWRC_SUCCESS;
            if (!contains(this)) {
                // Closed from the application's callback.
                wrapper->state2->action = UIState::CloseRequested;
                return posted ? Twpp::success() : Twpp::bummer();
            }
            if (posted && state() == before) {
                setState(5);
            }
        }
        wrapper->state2->action = UIState::CloseRequested;
        if (!posted) {
            closeRefused();
        }
        return posted ? Twpp::success() : Twpp::bummer();
    }
    case UIState::ImagesReady: {
        writeString("Save Image");
        // The application may transfer from within its callback: the state is 6 before it is told.
        setState(6);
        wrapper->state2->action = UIState::ImagesReady;
        TW_UINT16 rc;
        {
            EntryLock::Released unlocked;
            rc = post(entry, sourceIdentity(), appIdentity(), MSG_XFERREADY);
        }
        if (rc == TWRC_SUCCESS) {
            return Twpp::success();
        }
        if (MySource* source = instanceFor(appId); source == this && state() == 6) {
            setState(5);
            showDialogAgain();
        }
        return Twpp::bummer();
    }
    default:
        writeString("Default Action");
        data.TWMessage = MSG_NULL;
        return Result(TWRC_NOTDSEVENT, TWCC_SUCCESS);
    }
}

void MySource::showDialogAgain() {
    writeString("transfer refused: dialog shown again");
    const auto wrapper = deviceWrapper;
    auto show = [wrapper] {
        wrapper->withDialog([](QObject& dialog) {
            if (auto* widget = qobject_cast<QWidget*>(&dialog)) {
                widget->show();
            }
        });
    };
    UiThread& ui = UiThread::instance();
    if (ui.isUiThread()) {
        show();
    } else {
        ui.post(show);
    }
}

bool MySource::transferNoticeUnderway() const {
    return announcingFrom && *announcingFrom != std::this_thread::get_id();
}

void MySource::closeRefused() {
    // The user asked to close and the application said no: the dialog comes back, or it would stay
    // hidden with nothing left to close it.
    if (state() == 5) {
        writeString("close refused: dialog shown again");
        showDialogAgain();
    }
}

void MySource::requestChanged() {
    UiThread& ui = UiThread::instance();
    if (ui.createsApplication() && ui.eventsTurnedByCaller()) {
        return; // MSG_PROCESSEVENT takes the request
    }
    ui.post(&MySource::dispatchRequests);
}

void MySource::dispatchRequests() {
    whenEntryFree([](std::unique_lock<EntryLock>& lock) {
        MySource* source = nullptr;
        withEnabledInstance([&source](MySource& instance) { source = &instance; });
        if (source == nullptr || !source->deviceWrapper) {
            return;
        }
        const auto wrapper = source->deviceWrapper;
        std::uint8_t action = wrapper->state->action.load();
        do {
            if (action != UIState::CloseRequested && action != UIState::ImagesReady) {
                return;
            }
        } while (!wrapper->state->action.compare_exchange_weak(action, UIState::Nothing));

        const Twpp::Identity sourceId = source->sourceIdentity();
        const Twpp::Identity appId = source->appIdentity();
        const DSMENTRYPROC entry = Twpp::Registry::dsmEntry();
        const TW_UINT16 before = source->state();
        Twpp::Msg msg = MSG_CLOSEDSREQ;
        if (action == UIState::ImagesReady) {
            writeString("Save Image");
            source->setState(6);
            source->announcingFrom = std::this_thread::get_id();
            wrapper->state2->action = UIState::ImagesReady;
            msg = MSG_XFERREADY;
        } else {
            writeString("Close");
            wrapper->state2->action = UIState::CloseRequested;
        }
        lock.unlock();
        const TW_UINT16 rc = post(entry, sourceId, appId, msg);
        const TW_UINT32 app = appId.Id;
        if (msg == MSG_XFERREADY) {
            whenEntryFree([app](std::unique_lock<EntryLock>&) {
                if (MySource* told = instanceFor(app)) {
                    told->announcingFrom.reset();
                }
            });
        }
        if (msg == MSG_XFERREADY && rc != TWRC_SUCCESS) {
            saveRefused(app);
        } else if (msg == MSG_CLOSEDSREQ && rc != TWRC_SUCCESS) {
            whenEntryFree([app](std::unique_lock<EntryLock>&) {
                if (MySource* refused = instanceFor(app)) {
                    refused->closeRefused();
                }
            });
        } else if (msg == MSG_CLOSEDSREQ && rc == TWRC_SUCCESS && before != 5) {
            whenEntryFree([app, before](std::unique_lock<EntryLock>&) {
                MySource* closing = instanceFor(app);
                if (closing != nullptr && closing->state() == before) {
                    closing->setState(5);
                }
            });
        }
    });
}

void MySource::saveRefused(TW_UINT32 appId) {
    whenEntryFree([appId](std::unique_lock<EntryLock>&) {
        MySource* source = instanceFor(appId);
        if (source != nullptr && source->state() == 6) {
            source->setState(5);
            source->showDialogAgain();
        }
    });
}
