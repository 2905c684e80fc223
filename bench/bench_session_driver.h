// The application side of the session benchmark: a simulated sensor known to this machine on a
// private bus, and the built data source opened, negotiated and enabled through the stand-in DSM as
// an imaging application does it, with the dialog's state read on its own thread.
#pragma once

#include "bench/bench_support.h"
#include "platform/app_window.h"
#include "sensor-sim/bus.h"
#include "ui/acquisition_dialog_lookup.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QThread>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QWidget>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

namespace benchsession {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#ifdef _WIN32
constexpr bool kMessageLoop = true;
#else
constexpr bool kMessageLoop = false;
#endif

struct Sensor {
    const char* serial;
    const char* usbId;
    const char* product;
    int width;
    int height;
};
constexpr Sensor kDs1{"SN9001", "U9001", "DS1", 1000, 1500};
constexpr Sensor kDs2{"SN9002", "U9002", "DS2", 1300, 1700};

fs::path dataFolder();
fs::path busFolder();
fs::path driverFolder();

// Runs f on the thread where the source's Qt application object lives, and waits. With a message
// loop that is this thread.
template <typename F> void onDialogThread(F f) {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        if (QThread::currentThread() == app->thread()) {
            f();
        } else {
            QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
        }
    }
}

std::function<void()>& messageLoopTurn();
void turnOrSleep();
QWidget* acquisitionDialog();
int drawnTiles();
bool eventually(const std::function<bool()>& condition, std::chrono::seconds timeout = 120s);
bool connected();

// The source's notifications, posted on its own thread (Linux) or answered to MSG_PROCESSEVENT.
struct Notifications {
    std::mutex mutex; // guards messages
    std::condition_variable arrived;
    std::vector<TW_UINT16> messages;
};

Notifications& notifications();
TW_UINT16 TW_CALLINGSTYLE onNotification(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                         TW_MEMREF);
bool waitFor(TW_UINT16 msg);
void prepareKnownSensor(const Sensor& sensor, const fs::path& bus, bool plainFrames);

// The source opened, negotiated and enabled through the DSM, its dialog on a series template with
// the sensor connected; disabled and closed again when it goes.
class Session {
public:
    Session(const Sensor& sensor, int templateIndex, bool native, bool autoSave, bool plainFrames = false) {
        const fs::path bus = busFolder();
        if (!fs::exists(bus)) {
            fs::create_directories(bus);
            prepareKnownSensor(sensor, bus, plainFrames);
        }
        qputenv("OSTRA_SENSOR_BUS", QByteArray::fromStdString(bus.string()));
        qputenv("OSTRA_TWAIN_DS_FOLDER", QByteArray::fromStdString(driverFolder().string()));
        if (!kMessageLoop && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        bus_ = bus;
        window_ = platform::createApplicationWindow("Session");
        usbId_ = sensor.usbId;

        app_.ProtocolMajor = 2;
        app_.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
        std::strcpy(app_.ProductName, "Session");
        std::strcpy(source_.ProductName, "Vanto Sensor Twain");
        if (DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM,
                      window_ != 0 ? &window_ : nullptr) != TWRC_SUCCESS) {
            return;
        }
        memory_.Size = sizeof memory_;
        DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &memory_);
        if (DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_) != TWRC_SUCCESS) {
            return;
        }
        sourceOpen_ = true;
        TW_CALLBACK2 callback{};
        callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&onNotification);
        std::uint8_t mechanism[6] = {};
        const TW_UINT16 type = TWTY_UINT16;
        const TW_UINT32 value = native ? TWSX_NATIVE : TWSX_MEMORY;
        std::memcpy(mechanism, &type, 2);
        std::memcpy(mechanism + 2, &value, 4);
        TW_CAPABILITY xferMech{ICAP_XFERMECH, TWON_ONEVALUE, mechanism};
        TW_USERINTERFACE ui{1, 0, reinterpret_cast<TW_HANDLE>(window_)};
        // A message-loop application hears of its images in MSG_PROCESSEVENT's answers.
        if ((!kMessageLoop &&
             send(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback) != TWRC_SUCCESS) ||
            send(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &xferMech) != TWRC_SUCCESS) {
            return;
        }
        if (kMessageLoop) {
            messageLoopTurn() = [this] { turnMessages(); };
        }
        if (send(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) {
            return;
        }
        enabled_ = true;
        bool chosen = false;
        eventually([&] {
            onDialogThread([&] {
                QWidget* dialog = acquisitionDialog();
                auto* templates = dialog ? dialog->findChild<QComboBox*>("dropdown") : nullptr;
                auto* autoSaveButton =
                    dialog ? dialog->findChild<QAbstractButton*>("autoSaveButton") : nullptr;
                if (templates != nullptr && autoSaveButton != nullptr) {
                    templates->setCurrentIndex(templateIndex);
                    autoSaveButton->setChecked(autoSave);
                    chosen = true;
                }
            });
            return chosen;
        });
        ready_ = chosen && eventually(connected);
    }

    ~Session() {
        TW_USERINTERFACE ui{};
        if (enabled_) {
            TW_PENDINGXFERS reset{};
            send(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &reset);
            send(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        }
        if (sourceOpen_) {
            DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
        }
        DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, window_ != 0 ? &window_ : nullptr);
        messageLoopTurn() = nullptr;
        if (window_ != 0) {
            platform::destroyApplicationWindow(window_);
        }
        std::lock_guard lock(notifications().mutex);
        notifications().messages.clear();
    }

    bool ready() const { return ready_; }

    TW_UINT16 send(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        return DSM_Entry(&app_, &source_, dg, dat, msg, data);
    }

    // Another template: its tiles start empty. The dialog asks before it erases the tiles' images: the
    // user says yes.
    void chooseTemplate(int templateIndex) {
        onDialogThread([templateIndex] {
            QWidget* dialog = acquisitionDialog();
            auto* templates = dialog ? dialog->findChild<QComboBox*>("dropdown") : nullptr;
            if (templates == nullptr || templates->currentIndex() == templateIndex) {
                return;
            }
            ui::answerNextQuestionYes(dialog);
            templates->setCurrentIndex(templateIndex);
        });
    }

    // `count` exposures, waited for until the dialog has drawn `drawnAfter` tiles.
    bool expose(int count, int drawnAfter) {
        sensorbus::Bus(bus_).requestExposures(usbId_, count);
        return eventually([drawnAfter] { return drawnTiles() >= drawnAfter; });
    }

    // MSG_XFERREADY, then every image transferred: the number of images, none on a failure.
    std::optional<int> receiveSeries(bool native) {
        if (!waitFor(MSG_XFERREADY)) {
            return std::nullopt;
        }
        return bench::transferPending([this](TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                             void* data) { return send(dg, dat, msg, data); },
                                      native, 0, [this](TW_HANDLE handle) { memory_.DSM_MemFree(handle); });
    }

private:
    // Every message to the source first; its notifications go where the callback would put them.
    void turnMessages() {
        platform::turnApplicationMessages(
            window_,
            [this](void* message) {
                TW_EVENT event{message, MSG_NULL};
                const TW_UINT16 rc = send(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
                if (event.TWMessage == MSG_XFERREADY || event.TWMessage == MSG_CLOSEDSREQ) {
                    onNotification(nullptr, nullptr, 0, 0, event.TWMessage, nullptr);
                }
                return rc == TWRC_DSEVENT;
            },
            1ms);
    }

    platform::NativeWindow window_ = 0;
    TW_IDENTITY app_{};
    TW_IDENTITY source_{};
    TW_ENTRYPOINT memory_{};
    fs::path bus_;
    std::string usbId_;
    bool sourceOpen_ = false;
    bool enabled_ = false;
    bool ready_ = false;
};

} // namespace benchsession
