// Linux: USB devices through libudev, or a source plugged in by a higher layer. The notification
// window is an eventfd for posted messages, polled together with the udev monitor's socket (or with
// periodic looks at the source).
#include "platform/usb_devices.h"

#include "platform/usb_device_source.h"

#include <libudev.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

// The longest single wait on the system's monitor.
constexpr int kMonitorWaitMs = 1000;

std::optional<std::uint16_t> parseHex16(const char* text) {
    if (text == nullptr || text[0] == '\0') {
        return std::nullopt;
    }
    unsigned value = 0;
    int digits = 0;
    for (const char* p = text; *p != '\0' && *p != '/'; ++p, ++digits) {
        const char c = *p;
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        if (digits == 4) {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    if (digits == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

// The interface path of a udev "usb_device". Attributes are gone once a device is removed; the
// properties of the event still carry the identifiers then.
std::optional<std::wstring> udevDevicePath(udev_device* device) {
    const auto attribute = [device](const char* name) { return udev_device_get_sysattr_value(device, name); };
    const auto property = [device](const char* name) { return udev_device_get_property_value(device, name); };
    std::optional<std::uint16_t> vendor = parseHex16(attribute("idVendor"));
    std::optional<std::uint16_t> product = parseHex16(attribute("idProduct"));
    if (!vendor || !product) {
        vendor = parseHex16(property("ID_VENDOR_ID"));
        product = parseHex16(property("ID_MODEL_ID"));
    }
    if (!vendor || !product) {
        // PRODUCT=<vendor>/<product>/<release>, in hexadecimal without leading zeros.
        if (const char* text = property("PRODUCT")) {
            vendor = parseHex16(text);
            const char* slash = std::strchr(text, '/');
            product = slash != nullptr ? parseHex16(slash + 1) : std::nullopt;
        }
    }
    if (!vendor || !product) {
        return std::nullopt;
    }
    const char* serial = attribute("serial");
    if (serial == nullptr || serial[0] == '\0') {
        serial = property("ID_SERIAL_SHORT");
    }
    if (serial == nullptr || serial[0] == '\0') {
        serial = udev_device_get_sysname(device); // a device without serial string: its bus position
    }
    if (serial == nullptr) {
        return std::nullopt;
    }
    return usbDevicePath(*vendor, *product, widenedUsbText(serial));
}

std::vector<std::wstring> systemDevicePaths() {
    std::vector<std::wstring> paths;
    udev* context = udev_new();
    if (context == nullptr) {
        return paths;
    }
    udev_enumerate* enumeration = udev_enumerate_new(context);
    if (enumeration != nullptr && udev_enumerate_add_match_subsystem(enumeration, "usb") >= 0 &&
        udev_enumerate_add_match_property(enumeration, "DEVTYPE", "usb_device") >= 0 &&
        udev_enumerate_scan_devices(enumeration) >= 0) {
        udev_list_entry* entry = nullptr;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration)) {
            udev_device* device = udev_device_new_from_syspath(context, udev_list_entry_get_name(entry));
            if (device == nullptr) {
                continue;
            }
            if (auto path = udevDevicePath(device)) {
                paths.push_back(lowerCaseUsbPath(std::move(*path)));
            }
            udev_device_unref(device);
        }
    }
    if (enumeration != nullptr) {
        udev_enumerate_unref(enumeration);
    }
    udev_unref(context);
    return paths;
}

} // namespace

std::vector<std::wstring> presentUsbDevicePaths(const UsbDeviceSource* source) {
    return source != nullptr ? lowerCaseDevicePaths(*source) : systemDevicePaths();
}

struct DeviceNotificationWindow::State {
    ~State() {
        if (monitor != nullptr) {
            udev_monitor_unref(monitor);
        }
        if (context != nullptr) {
            udev_unref(context);
        }
        if (wakeFd >= 0) {
            ::close(wakeFd);
        }
    }

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
    }

    void receiveFromMonitor() {
        while (udev_device* device = udev_monitor_receive_device(monitor)) {
            const char* action = udev_device_get_action(device);
            const std::string_view what = action != nullptr ? action : "";
            std::optional<std::wstring> path;
            if (what == "add" || what == "remove") {
                path = udevDevicePath(device);
            }
            udev_device_unref(device);
            if (path) {
                procedure(what == "add" ? kDeviceArrival : kDeviceRemoveComplete, *path);
            }
        }
    }

    // Set at creation; used by the owning thread only.
    Procedure procedure;
    int wakeFd = -1;
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    std::optional<PolledUsbDevices> source;
    bool registered = false;

    // Guards closePosted, which postClose sets from any thread.
    std::mutex mutex;
    bool closePosted = false;
};

std::unique_ptr<DeviceNotificationWindow>
DeviceNotificationWindow::create(Procedure procedure, std::shared_ptr<const UsbDeviceSource> source) {
    auto state = std::make_unique<State>();
    state->procedure = std::move(procedure);
    state->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state->wakeFd < 0) {
        return nullptr;
    }
    if (source) {
        state->source.emplace(std::move(source));
        state->registered = true;
    } else {
        state->context = udev_new();
        if (state->context != nullptr) {
            state->monitor = udev_monitor_new_from_netlink(state->context, "udev");
        }
        if (state->monitor != nullptr &&
            udev_monitor_filter_add_match_subsystem_devtype(state->monitor, "usb", "usb_device") >= 0 &&
            udev_monitor_enable_receiving(state->monitor) >= 0) {
            const int fd = udev_monitor_get_fd(state->monitor);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            state->registered = true;
        } else if (state->monitor != nullptr) {
            udev_monitor_unref(state->monitor);
            state->monitor = nullptr;
        }
    }
    return std::unique_ptr<DeviceNotificationWindow>(new DeviceNotificationWindow(std::move(state)));
}

DeviceNotificationWindow::DeviceNotificationWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}

DeviceNotificationWindow::~DeviceNotificationWindow() = default;

bool DeviceNotificationWindow::notificationsRegistered() const {
    return state_->registered;
}

void DeviceNotificationWindow::postClose() {
    {
        std::lock_guard lock(state_->mutex);
        state_->closePosted = true;
    }
    state_->wake();
}

PumpEnd DeviceNotificationWindow::pump(std::stop_token stop) {
    State& s = *state_;
    std::stop_callback wakeOnStop(stop, [&s] { s.wake(); });
    while (true) {
        {
            std::lock_guard lock(s.mutex);
            if (s.closePosted) {
                s.closePosted = false;
                return PumpEnd::closed;
            }
        }
        if (stop.stop_requested()) {
            return PumpEnd::stopped;
        }

        pollfd fds[2] = {{s.wakeFd, POLLIN, 0}, {-1, POLLIN, 0}};
        nfds_t count = 1;
        if (s.monitor != nullptr) {
            fds[1].fd = udev_monitor_get_fd(s.monitor);
            count = 2;
        }
        const int timeout = s.source ? s.source->millisecondsToNextLook(kMonitorWaitMs) : kMonitorWaitMs;
        const int ready = ::poll(fds, count, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return PumpEnd::failed;
        }
        if ((fds[0].revents & (POLLERR | POLLNVAL)) != 0) {
            return PumpEnd::failed;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::uint64_t counter = 0;
            [[maybe_unused]] const auto read = ::read(s.wakeFd, &counter, sizeof counter);
        }
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            s.receiveFromMonitor();
        }
        if (s.source) {
            s.source->lookIfDue(s.procedure);
        }
    }
}

} // namespace platform
