// The connection thread of a DeviceStatus: the start-up attempt to open the sensor, then the USB
// notification window's pump, which opens the sensor on arrival and closes it on removal.
#include "device/device_status.h"

#include "support/config_file.h"
#include "support/log.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

void logWithTime(const char* text) {
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    writeLog([text, now](std::ofstream& out) {
        out << text << " time: " << static_cast<std::int64_t>(now) << std::endl;
    });
}

// Waits for the duration or until a stop is requested; false when stopped. The request is looked at
// in short steps, not registered for: with MinGW's libstdc++ (GCC 12) a wait on a stop token can
// miss the wake-up that the end of its stop callback waits for, and the thread would never end.
bool pauseUnlessStopped(const std::stop_token& stop, std::chrono::milliseconds duration) {
    constexpr std::chrono::milliseconds kStep{20};
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (!stop.stop_requested()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        std::this_thread::sleep_for(std::min(left, kStep));
    }
    return !stop.stop_requested();
}

// Ends a thread object that is not the calling thread's own; the calling thread's own is let go.
void finish(const std::shared_ptr<std::thread>& thread) {
    if (!thread || !thread->joinable()) {
        return;
    }
    if (thread->get_id() == std::this_thread::get_id()) {
        thread->detach();
    } else {
        thread->join();
    }
}

} // namespace

DeviceStatus::~DeviceStatus() {
    usbListener_->postClose();
    std::shared_ptr<std::thread> thread;
    {
        std::lock_guard lock(mutex_);
        stopSource_.request_stop();
        thread = std::move(connectionThread_);
    }
    finish(thread);
}

bool DeviceStatus::stopRequested() const {
    std::lock_guard lock(mutex_);
    return stopSource_.stop_requested();
}

void DeviceStatus::startConnectionThread() {
    std::shared_ptr<std::thread> previous;
    {
        std::lock_guard lock(mutex_);
        if (connectionThread_ && threadActive_.load() && !stopSource_.stop_requested()) {
            return;
        }
        previous = std::move(connectionThread_);
    }
    // A thread told to stop without being waited for ends within its bounded steps.
    finish(previous);

    idle_ = false;
    std::lock_guard lock(mutex_);
    stopSource_ = std::stop_source();
    threadActive_ = true;
    try {
        connectionThread_ = std::make_shared<std::thread>(
            [this, token = stopSource_.get_token()] { event_connection(token); });
    } catch (...) {
        threadActive_ = false;
    }
}

void DeviceStatus::event_connection(std::stop_token stop) {
    try {
        usbListener_->createWindow(
            DeviceStatusHolder{[this](const std::string& id) { onArrival(id); }, [this] { onRemoval(); }});
        writeString("THREAD - starting...");
        startupLoop(stop);

        writeString("THREAD - starting 2...");
        if (usbListener_->pump(stop) == platform::PumpEnd::closed) {
            writeString("THREAD - end start ...");
        }
        logWithTime("THREAD - ending...");
    } catch (...) {
    }
    try {
        usbListener_->destroyWindow();
        DeviceTurn device(*this);
        DeinitV2(nullptr);
        logWithTime("THREAD - ending 2...");
        setDetector(nullptr);
        logWithTime("THREAD - ending 3...");
    } catch (...) {
    }
    threadActive_ = false;
}

void DeviceStatus::startupLoop(const std::stop_token& stop) {
    bool keepTrying = true;
    int reopens = 0;
    while (!stop.stop_requested()) {
        writeString("THREAD - init Loop 1...");
        // A reopen from the serial folder is asked for by status 6; a few in a row are enough.
        if (status_.load() == kStatusReopen && reopens < kMaxReopenAttempts) {
            writeString("THREAD - retry serial no...");
            ++reopens;
            keepTrying = true;
        }
        if (const auto opened = detector()) {
            const int state = opened->getAttrInt(fpd::kAttrConnectionState);
            if (state >= 1 && state <= 3) {
                break;
            }
        }
        if (!keepTrying) {
            break;
        }
        writeString("THREAD - init Loop 2...");
        // A sensor that cannot start for want of its corrections waits for the dialog's exchange,
        // which starts it itself; the thread goes on to the USB notifications meanwhile, so that
        // a replug is seen.
        if (status_.load() == kStatusCorrectionFailed) {
            break;
        }
        if (paused_.load()) {
            pauseUnlessStopped(stop, kStartupPause);
            continue;
        }
        writeString("THREAD - init Loop 3...");
        if (stop.stop_requested()) {
            break;
        }
        writeString("THREAD - init Loop 4...");
        if (tryInit(std::nullopt, false)) {
            onConnect();
            break;
        }
        pauseUnlessStopped(stop, kStartupPause);
        keepTrying = false;
    }
}

bool DeviceStatus::tryInit(std::optional<std::string> usbId, bool needDialog) {
    DeviceTurn device(*this);
    // Without a dialog to show the result nothing changes: an open sensor stays open.
    if (needDialog) {
        noteConnectionStatus(false);
        if (!dialogShown()) {
            return false;
        }
    }
    if (detector()) {
        DeinitV2(nullptr);
        setDetector(nullptr);
    }
    const auto last = readConfigFile().last_serial_number;
    setExpectedSerial(last);
    auto wrapper = staticInstance();
    return initDevice(wrapper, last, false, std::move(usbId));
}

void DeviceStatus::onArrival(const std::string& identifier) {
    DeviceTurn device(*this);
    std::optional<std::string> usbId;
    if (!identifier.empty()) {
        usbId = identifier;
    }
    // A sensor plugged in again is a new start: if its corrections are still missing, the user is
    // asked again.
    failureSeen_ = false;
    // An open from a product copy asks for a reopen from the serial folder (status 6); a few are
    // enough, as each one that fails the same way would only repeat it.
    int attempts = 0;
    do {
        if (tryInit(usbId, true)) {
            onConnect();
        }
        ++attempts;
    } while (status_.load() == kStatusReopen && attempts <= kMaxReopenAttempts && !stopRequested());
    writeString("usb listener - retry serial no...");
}

void DeviceStatus::onRemoval() {
    DeviceTurn device(*this);
    noteConnectionStatus(false);
    if (detector()) {
        DeinitV2(nullptr);
        setDetector(nullptr);
    }
}

void DeviceStatus::stop(bool join) {
    writeString("stop 1");
    usbListener_->postClose();
    bool stopping = false;
    std::shared_ptr<std::thread> thread;
    {
        std::lock_guard lock(mutex_);
        stopping = stopSource_.request_stop();
        // The thread cannot wait for itself; it ends on its own after this request.
        if (join && connectionThread_ && connectionThread_->get_id() != std::this_thread::get_id()) {
            thread = std::move(connectionThread_);
        }
    }
    writeTwoString("stop 1.1 ", std::string("stopping? ") + (stopping ? "true" : "false"));
    writeString("stop 2");
    if (thread && thread->joinable()) {
        thread->join();
    }
    writeString("stop 3");
    idle_ = true;
}
