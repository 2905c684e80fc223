// Fuzz target: DS_Entry as applications reach it through the stand-in DSM. Each input is an
// application session: its identity, whether a simulated sensor is plugged, callback or message
// loop, then a series of triplets in whatever order the input says (open state or not): capability
// operations with random containers, enable and disable, events, exposures and Save, native and
// memory transfers with random buffers (too small ones too), pending-transfer ends and resets, image
// info and layout, random triplets with null or zeroed data, and direct calls with identities no DSM
// handed out. Every session ends as a careful application ends it, and the source must then be
// closed and every handle it gave back to the application freed.
#include "dsm/dsm_control.h"
#include "fuzz/containers.h"
#include "sensor-sim/bus.h"
#include "support/config_file.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QThread>
#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QDialog>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QMessageBox>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" TW_UINT16 TW_CALLINGSTYLE DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg,
                                               TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Third-party leaks only: the font library keeps its caches until the process ends, and Qt's
// off-screen platform plug-in keeps its screen and cursor objects when the application object that
// created them is destroyed (the source creates and destroys one per session). Matching the plug-in
// needs whole stacks, which the fast unwinder does not give through Qt's libraries.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libqoffscreen.so\n";
}

namespace {

constexpr const char* kSerial = "SN4711";
constexpr const char* kUsbId = "U4711";
constexpr const char* kProductName = "Vanto Sensor Twain";

fs::path root;
// OSTRA_FUZZ_TRACE set: every triplet of a session and its return code go to the error output, for
// reading what an input does.
bool tracing = false;
DSENTRYPROC sourceEntry = nullptr;
TW_ENTRYPOINT memory{};

// The notifications the source posted to the application's callback; guarded by notesMutex.
std::mutex notesMutex;
std::vector<TW_UINT16> notes;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void removeRoot() {
    std::error_code ec;
    fs::remove_all(root, ec);
}

fs::path appData() {
    return root / "appdata";
}
sensorbus::Bus bus() {
    return sensorbus::Bus(root / "bus");
}

TW_UINT16 TW_CALLINGSTYLE onNotification(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                         TW_MEMREF) {
    std::lock_guard lock(notesMutex);
    notes.push_back(msg);
    return TWRC_SUCCESS;
}

std::size_t noteCount() {
    std::lock_guard lock(notesMutex);
    return notes.size();
}

// Runs f on the thread of the source's Qt application object, if there is one, and waits.
template <typename F> void onDialogThread(F f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        f();
    } else {
        QMetaObject::invokeMethod(app, f, Qt::BlockingQueuedConnection);
    }
}

QDialog* acquisitionDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "twaindialog") {
            return qobject_cast<QDialog*>(widget);
        }
    }
    return nullptr;
}

bool dialogShown() {
    bool shown = false;
    onDialogThread([&] { shown = acquisitionDialog() != nullptr && acquisitionDialog()->isVisible(); });
    return shown;
}

int drawnTiles() {
    int drawn = 0;
    onDialogThread([&] {
        if (QDialog* dialog = acquisitionDialog(); dialog != nullptr && dialog->isVisible()) {
            if (QWidget* tiles = dialog->findChild<QWidget*>("widget")) {
                for (auto* view : tiles->findChildren<QGraphicsView*>()) {
                    drawn +=
                        view->isVisible() && view->scene() != nullptr && !view->scene()->items().isEmpty();
                }
            }
        }
    });
    return drawn;
}

// Answers the question the dialog put up, if any: a message box by its Yes or No button, any other
// modal dialog of the source's by cancelling it. Such a box turns its own event loop, so this call
// still gets through while it is open.
void answerPrompt(bool yes) {
    onDialogThread([yes] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->objectName() == "twaindialog") {
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (QAbstractButton* button = box->button(yes ? QMessageBox::Yes : QMessageBox::No)) {
                button->click();
                return;
            }
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
}

// Runs f on the dialog's thread without waiting (f may put up a question), then answers whatever
// question that brings, until f has run.
template <typename F> void onDialogThreadAnswering(F f, bool yes) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        app,
        [f, done] {
            f();
            *done = true;
        },
        Qt::QueuedConnection);
    for (int i = 0; i < 100 && !*done; ++i) {
        std::this_thread::sleep_for(20ms);
        answerPrompt(yes);
    }
}

void press(const char* button, bool yes) {
    onDialogThreadAnswering(
        [button] {
            if (QDialog* dialog = acquisitionDialog(); dialog != nullptr && dialog->isVisible()) {
                if (auto* found = dialog->findChild<QAbstractButton*>(button)) {
                    found->click();
                }
            }
        },
        yes);
}

template <typename F> bool waitUntil(F done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// One application's session with the source.
class Session {
public:
    Session(FuzzedDataProvider& data, bool plugged) : data_(data), plugged_(plugged) {}

    bool open() {
        app_.Version.MajorNum = data_.ConsumeIntegral<TW_UINT16>();
        app_.ProtocolMajor = data_.ConsumeBool() ? 2 : data_.ConsumeIntegral<TW_UINT16>();
        app_.ProtocolMinor = data_.ConsumeIntegral<TW_UINT16>();
        app_.SupportedGroups =
            data_.ConsumeBool() ? (DG_CONTROL | DG_IMAGE | DF_APP2) : data_.ConsumeIntegral<TW_UINT32>();
        copyText(app_.ProductName, data_.ConsumeRandomLengthString(40));
        copyText(app_.Manufacturer, data_.ConsumeRandomLengthString(40));
        if (DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr) != TWRC_SUCCESS) {
            return false;
        }
        dsmOpen_ = true;
        copyText(source_.ProductName, kProductName);
        if (DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_) != TWRC_SUCCESS) {
            return false;
        }
        sourceOpen_ = true;
        if (data_.ConsumeBool()) {
            TW_CALLBACK2 callback{};
            callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&onNotification);
            callback_ = DSM_Entry(&app_, &source_, DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK,
                                  &callback) == TWRC_SUCCESS;
        }
        return true;
    }

    void run() {
        for (int step = 0; step < 48 && data_.remaining_bytes() > 0; ++step) {
            switch (data_.ConsumeIntegralInRange<int>(0, 15)) {
            case 0:
            case 1:
                capability();
                break;
            case 2:
                enable();
                break;
            case 3:
                processEvent();
                break;
            case 4:
                disable();
                break;
            case 5:
                exposeAndSave();
                break;
            case 6:
                nativeTransfer();
                break;
            case 7:
            case 8:
                memoryTransfer();
                break;
            case 9:
                pendingTransfers();
                break;
            case 10:
                imageInfoAndLayout();
                break;
            case 11:
                randomTriplet();
                break;
            case 12:
                directCall();
                break;
            case 13:
                nullData();
                break;
            case 14:
                setMechanism();
                break;
            default:
                if (data_.ConsumeIntegralInRange<int>(0, 3) == 0) {
                    switchTemplateUnanswered();
                } else {
                    press(data_.ConsumeBool() ? "pushButton" : "retakeButton", data_.ConsumeBool());
                }
                break;
            }
        }
    }

    // As a careful application ends: the transfers ended, the user interface disabled, the source
    // and the DSM closed. The source must take every step.
    void close() {
        if (sourceOpen_) {
            TW_PENDINGXFERS pending{};
            call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
            call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
            TW_USERINTERFACE ui{};
            call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
            require(DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_) ==
                    TWRC_SUCCESS);
            sourceOpen_ = false;
        }
        if (dsmOpen_) {
            require(DSM_Entry(&app_, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr) == TWRC_SUCCESS);
            dsmOpen_ = false;
        }
        require(OstraDsm_outstandingHandles() == 0);
    }

private:
    static void copyText(TW_STR32& target, const std::string& text) {
        std::memset(target, 0, sizeof(target));
        std::memcpy(target, text.data(), std::min(text.size(), sizeof(target) - 1));
    }

    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data) {
        const TW_UINT16 rc = DSM_Entry(&app_, &source_, dg, dat, msg, data);
        trace("triplet", dg, dat, msg, rc);
        return rc;
    }

    static void trace(const char* kind, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_UINT16 rc) {
        if (tracing) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
            std::fprintf(stderr, "%lld ms: %s %x/%x/%x -> %u\n", static_cast<long long>(ms), kind,
                         static_cast<unsigned>(dg), dat, msg, rc);
        }
    }

    TW_UINT16 anyMessage() {
        return data_.ConsumeIntegralInRange<int>(0, 7) == 0
                   ? data_.ConsumeIntegral<TW_UINT16>()
                   : data_.PickValueInArray({MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_SET, MSG_RESET,
                                             MSG_QUERYSUPPORT, MSG_RESETALL, MSG_SETCONSTRAINT, MSG_ENDXFER,
                                             MSG_ENABLEDS, MSG_DISABLEDS, MSG_PROCESSEVENT});
    }

    void capability() {
        TW_CAPABILITY cap{};
        cap.Cap =
            data_.ConsumeIntegralInRange<int>(0, 3) == 0
                ? data_.ConsumeIntegral<TW_UINT16>()
                : data_.PickValueInArray({CAP_SUPPORTEDCAPS, CAP_UICONTROLLABLE, CAP_XFERCOUNT,
                                          ICAP_COMPRESSION, ICAP_BITDEPTH, ICAP_PIXELTYPE, ICAP_XFERMECH,
                                          ICAP_UNITS, ICAP_XRESOLUTION, ICAP_PHYSICALWIDTH, CAP_AUTOFEED,
                                          CAP_DUPLEX, CAP_DEVICEONLINE, ICAP_IMAGEFILEFORMAT});
        const fuzzing::Container container = fuzzing::makeContainer(data_);
        cap.ConType = container.type;
        TW_HANDLE own = nullptr;
        if (data_.ConsumeIntegralInRange<int>(0, 7) != 0) {
            own = memory.DSM_MemAllocate(static_cast<TW_UINT32>(container.block.size()));
            if (own != nullptr && !container.block.empty()) {
                std::memcpy(memory.DSM_MemLock(own), container.block.data(), container.block.size());
                memory.DSM_MemUnlock(own);
            }
        }
        cap.hContainer = own;
        call(DG_CONTROL, DAT_CAPABILITY, anyMessage(), &cap);
        if (cap.hContainer != own) {
            memory.DSM_MemFree(cap.hContainer);
        }
        memory.DSM_MemFree(own);
    }

    void enable() {
        TW_USERINTERFACE ui{};
        ui.ShowUI = data_.ConsumeBool() ? 1 : data_.ConsumeIntegral<TW_BOOL>();
        ui.ModalUI = data_.ConsumeIntegral<TW_BOOL>();
        // Any window handle: on this system a parent is only ever compared and recorded.
        ui.hParent = data_.ConsumeBool()
                         ? nullptr
                         : reinterpret_cast<TW_HANDLE>(data_.ConsumeIntegral<std::uintptr_t>());
        call(DG_CONTROL, DAT_USERINTERFACE, data_.ConsumeBool() ? MSG_ENABLEDS : MSG_ENABLEDSUIONLY, &ui);
    }

    void processEvent() {
        char event[64] = {};
        TW_EVENT message{};
        message.pEvent = data_.ConsumeBool() ? event : nullptr;
        message.TWMessage = data_.ConsumeIntegral<TW_UINT16>();
        call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &message);
    }

    void disable() {
        TW_USERINTERFACE ui{};
        call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    }

    // With the dialog shown: exposures when the sensor is plugged, then Save (or Retake), then the
    // notification through the callback or the message loop.
    void exposeAndSave() {
        const int count = data_.ConsumeIntegralInRange<int>(0, 2);
        const bool retake = data_.ConsumeIntegralInRange<int>(0, 3) == 0;
        const int series = data_.ConsumeIntegralInRange<int>(1, 6);
        const bool yes = data_.ConsumeBool();
        // Each of these waits; a few per session keep every input well inside the fuzzer's timeout.
        if (waitsLeft_ == 0 || !dialogShown()) {
            return;
        }
        --waitsLeft_;
        if (plugged_ && count > 0) {
            // Exposures are drawn into the tiles of a series template.
            onDialogThreadAnswering(
                [series] {
                    if (QDialog* dialog = acquisitionDialog()) {
                        if (auto* templates = dialog->findChild<QComboBox*>("dropdown")) {
                            templates->setCurrentIndex(series);
                        }
                    }
                },
                yes);
            const int before = drawnTiles();
            if (bus().requestExposures(kUsbId, count) == sensorbus::BusStatus::ok) {
                waitUntil([&] { return drawnTiles() >= before + count; }, 10s);
            }
        }
        const std::size_t seen = noteCount();
        press(retake ? "retakeButton" : "pushButton", yes);
        if (callback_) {
            waitUntil([&] { return noteCount() > seen; }, 500ms);
        } else {
            waitUntil(
                [&] {
                    TW_EVENT event{nullptr, MSG_NULL};
                    return call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_DSEVENT &&
                           event.TWMessage != MSG_NULL;
                },
                500ms);
        }
    }

    // The user picks another template and leaves the question about the images open while the
    // application goes on (the dialog turns its events on a thread of its own).
    void switchTemplateUnanswered() {
        const int series = data_.ConsumeIntegralInRange<int>(0, 6);
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                app,
                [series] {
                    if (QDialog* dialog = acquisitionDialog()) {
                        if (auto* templates = dialog->findChild<QComboBox*>("dropdown")) {
                            templates->setCurrentIndex(series);
                        }
                    }
                },
                Qt::QueuedConnection);
        }
    }

    void nativeTransfer() {
        TW_HANDLE image = nullptr;
        const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &image);
        if (rc == TWRC_XFERDONE) {
            require(image != nullptr);
        }
        memory.DSM_MemFree(image);
    }

    void memoryTransfer() {
        TW_SETUPMEMXFER setup{};
        call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
        // The buffer is exactly as long as the application says, so that a write past it shows.
        TW_UINT32 length = 0;
        switch (data_.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            length = setup.Preferred;
            break;
        case 1:
            length = setup.MinBufSize;
            break;
        case 2:
            length = data_.ConsumeIntegralInRange<TW_UINT32>(0, 64);
            break;
        default:
            length = data_.ConsumeIntegralInRange<TW_UINT32>(0, 4u << 20);
            break;
        }
        length = std::min<TW_UINT32>(length, 16u << 20);
        std::vector<char> buffer(length);
        TW_IMAGEMEMXFER xfer{};
        xfer.Compression = TWON_DONTCARE16;
        xfer.BytesPerRow = xfer.Columns = xfer.Rows = xfer.XOffset = xfer.YOffset = xfer.BytesWritten =
            0xFFFFFFFF;
        xfer.Memory.Flags =
            data_.ConsumeBool() ? (TWMF_APPOWNS | TWMF_POINTER) : data_.ConsumeIntegral<TW_UINT32>();
        xfer.Memory.Length =
            data_.ConsumeIntegralInRange<int>(0, 7) == 0 ? data_.ConsumeIntegral<TW_UINT32>() : length;
        if (xfer.Memory.Length > length) {
            // A length beyond the buffer is the application's lie that no source can see through.
            xfer.Memory.Length = length;
        }
        xfer.Memory.TheMem =
            data_.ConsumeIntegralInRange<int>(0, 7) == 0 || length == 0 ? nullptr : buffer.data();
        const int strips = data_.ConsumeIntegralInRange<int>(1, 64);
        for (int i = 0; i < strips; ++i) {
            const TW_UINT16 rc = call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
            if (rc != TWRC_SUCCESS) {
                break;
            }
            require(xfer.BytesWritten <= xfer.Memory.Length);
        }
    }

    void pendingTransfers() {
        TW_PENDINGXFERS pending{};
        call(DG_CONTROL, DAT_PENDINGXFERS,
             data_.PickValueInArray({MSG_GET, MSG_ENDXFER, MSG_RESET, MSG_STOPFEEDER}), &pending);
    }

    void imageInfoAndLayout() {
        TW_IMAGEINFO info{};
        call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info);
        TW_IMAGELAYOUT layout{};
        const auto bytes = data_.ConsumeBytes<char>(sizeof layout);
        std::memcpy(&layout, bytes.data(), bytes.size());
        call(DG_IMAGE, DAT_IMAGELAYOUT, data_.PickValueInArray({MSG_GET, MSG_GETDEFAULT, MSG_SET, MSG_RESET}),
             &layout);
    }

    // Any triplet the DSM passes on (its own ones left out), with zeroed data: pointers in it are
    // null, every other field is whatever the source makes of zero.
    void randomTriplet() {
        const TW_UINT32 dg = data_.ConsumeBool() ? data_.PickValueInArray({DG_CONTROL, DG_IMAGE, DG_AUDIO})
                                                 : data_.ConsumeIntegral<TW_UINT32>();
        TW_UINT16 dat = data_.ConsumeIntegral<TW_UINT16>();
        if (dat == DAT_IDENTITY || dat == DAT_PARENT || dat == DAT_ENTRYPOINT || dat == DAT_CALLBACK ||
            dat == DAT_CALLBACK2) {
            dat = DAT_NULL;
        }
        alignas(8) char zeroed[1024] = {};
        call(dg, dat, anyMessage(), zeroed);
    }

    // Calls that no DSM would pass on: an origin the source has never seen (or none), straight to
    // DS_Entry.
    void directCall() {
        TW_IDENTITY stranger{};
        stranger.Id = 0x10000 + data_.ConsumeIntegral<TW_UINT16>();
        copyText(stranger.ProductName, data_.ConsumeRandomLengthString(40));
        const TW_UINT32 dg = data_.PickValueInArray({DG_CONTROL, DG_IMAGE, DG_AUDIO});
        TW_UINT16 dat = data_.ConsumeIntegral<TW_UINT16>() % 0x0140;
        TW_UINT16 msg = anyMessage();
        // Opening and closing belong to the DSM; an entry point from no DSM would be followed.
        if (dat == DAT_IDENTITY && msg != MSG_GET) {
            msg = MSG_GET;
        }
        if (dat == DAT_ENTRYPOINT) {
            dat = DAT_STATUS;
        }
        alignas(8) char zeroed[1024] = {};
        TW_IDENTITY* origin = data_.ConsumeBool() ? &stranger : nullptr;
        trace("direct", dg, dat, msg,
              sourceEntry(origin, dg, dat, msg, data_.ConsumeBool() ? zeroed : nullptr));
    }

    void nullData() {
        const TW_UINT32 dg = data_.PickValueInArray({DG_CONTROL, DG_IMAGE});
        TW_UINT16 dat = data_.PickValueInArray({DAT_CAPABILITY, DAT_EVENT, DAT_PENDINGXFERS, DAT_SETUPMEMXFER,
                                                DAT_STATUS, DAT_USERINTERFACE, DAT_XFERGROUP, DAT_IMAGEINFO,
                                                DAT_IMAGELAYOUT, DAT_IMAGEMEMXFER, DAT_IMAGENATIVEXFER,
                                                DAT_CUSTOMDSDATA, DAT_DEVICEEVENT, DAT_STATUSUTF8});
        call(dg, dat, anyMessage(), nullptr);
    }

    void setMechanism() {
        unsigned char container[6];
        const TW_UINT16 type = TWTY_UINT16;
        const TW_UINT32 value = data_.ConsumeBool() ? TWSX_MEMORY : TWSX_NATIVE;
        std::memcpy(container, &type, 2);
        std::memcpy(container + 2, &value, 4);
        TW_CAPABILITY cap{ICAP_XFERMECH, TWON_ONEVALUE, container};
        call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    }

    FuzzedDataProvider& data_;
    // Whether the known sensor is on the bus during this session.
    const bool plugged_;
    int waitsLeft_ = 3;
    TW_IDENTITY app_{};
    TW_IDENTITY source_{};
    bool dsmOpen_ = false;
    bool sourceOpen_ = false;
    bool callback_ = false;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (fs::temp_directory_path() / "ostra-fuzz-ds-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::abort();
    }
    root = pattern;
    std::atexit(removeRoot);
    fs::create_directories(appData());
    fs::create_directories(root / "bus");
    setenv("XDG_DATA_HOME", appData().c_str(), 1);
    setenv("OSTRA_SENSOR_BUS", (root / "bus").c_str(), 1);
    setenv("OSTRA_TWAIN_DS_FOLDER", OSTRA_TWAIN_FOLDER, 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    tracing = std::getenv("OSTRA_FUZZ_TRACE") != nullptr;
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    // A sensor seen before: its serial folder with correction files and the history. It is plugged
    // for the sessions that want it.
    const fs::path work = appData() / "vanto_sensor" / "work_dir" / kSerial;
    fs::create_directories(work.parent_path());
    fs::copy(fs::path(OSTRA_TWAIN_FOLDER) / "DS1", work, fs::copy_options::recursive);
    fs::create_directories(work / "Correct" / "Default");
    std::ofstream(work / "Correct" / "Default" / "offset.dft") << "dark field";
    std::ofstream(work / "Correct" / "Default" / "gain.gn") << "gain";
    updateConfigFile([](ConfigFile& config) {
        config.last_serial_number = kSerial;
        config.previous_serial_numbers.insert(kSerial);
        config.previous_serial_numbers_map["u4711"] = kSerial;
    });

    // The DSM loads and unloads the source at every open; kept loaded here, its coverage counters
    // stay where the fuzzer found them.
    void* source = dlopen(OSTRA_TWAIN_FOLDER "/TwainDll.ds", RTLD_NOW | RTLD_NODELETE);
    if (source == nullptr) {
        std::abort();
    }
    sourceEntry = reinterpret_cast<DSENTRYPROC>(dlsym(source, "DS_Entry"));
    if (sourceEntry == nullptr) {
        std::abort();
    }

    // The DSM's handle memory, as an application uses it for its containers.
    TW_IDENTITY probe{};
    probe.ProtocolMajor = 2;
    probe.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_APP2;
    DSM_Entry(&probe, nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr);
    memory.Size = sizeof memory;
    if (DSM_Entry(&probe, nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &memory) != TWRC_SUCCESS) {
        std::abort();
    }
    DSM_Entry(&probe, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    OstraDsm_resetControls();
    {
        std::lock_guard lock(notesMutex);
        notes.clear();
    }
    const bool plugged = data.ConsumeIntegralInRange<int>(0, 3) == 0;
    if (plugged) {
        sensorbus::SensorEntry entry;
        entry.usbId = kUsbId;
        entry.serial = kSerial;
        entry.product = "DS1";
        require(bus().plug(entry) == sensorbus::BusStatus::ok);
    }
    Session session(data, plugged);
    if (session.open()) {
        session.run();
    }
    session.close();
    if (plugged) {
        bus().unplug(kUsbId);
    }
    return 0;
}
