// Windows: SetupAPI enumeration of the present USB device interfaces, and the message-only window
// "DevNotifWnd" (class "DUMMY_CLASS") registered for their device-change broadcasts, or looking at a
// source plugged in by a higher layer instead.
#include "platform/usb_devices.h"

#include "platform/usb_device_source.h"

#include <windows.h>

#include <dbt.h>
#include <setupapi.h>

#include <cstdio>
#include <optional>
#include <vector>

namespace platform {

namespace {

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}, kUsbDeviceInterfaceClass as a GUID.
constexpr GUID kUsbInterfaceGuid = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

const wchar_t kClassName[] = L"DUMMY_CLASS";
const wchar_t kWindowTitle[] = L"DevNotifWnd";

// The longest single wait of the pump before it looks at the stop request again. A stop posts
// WM_CLOSE (postClose) as well, which ends the pump at once.
constexpr DWORD kPumpWaitMs = 200;

} // namespace

std::vector<std::wstring> presentUsbDevicePaths(const UsbDeviceSource* source) {
    if (source != nullptr) {
        return lowerCaseDevicePaths(*source);
    }
    std::vector<std::wstring> paths;
    // DIGCF_PRESENT | DIGCF_DEVICEINTERFACE (18).
    HDEVINFO set =
        SetupDiGetClassDevsW(&kUsbInterfaceGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return paths;
    }
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbInterfaceGuid, index, &interfaceData)) {
            if (GetLastError() == ERROR_NO_MORE_ITEMS) {
                break;
            }
            continue;
        }
        // The first call only tells the size of the detail record.
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
            continue;
        }
        std::vector<unsigned char> buffer(size, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W); // 6 on 32-bit, 8 on 64-bit Windows
        SP_DEVINFO_DATA deviceData{};
        deviceData.cbSize = sizeof deviceData;
        if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, size, nullptr, &deviceData)) {
            continue;
        }
        paths.emplace_back(detail->DevicePath);
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

struct DeviceNotificationWindow::State {
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case WM_NCCREATE: {
            const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            return 1;
        }
        case WM_CREATE: {
            auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            DEV_BROADCAST_DEVICEINTERFACE_W filter{};
            filter.dbcc_size = sizeof filter; // 32
            filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            filter.dbcc_classguid = kUsbInterfaceGuid;
            // With a source of its own the window hears of devices from it instead of the system.
            if (state != nullptr && !state->source) {
                state->notification =
                    RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
            }
            return 0;
        }
        case WM_DEVICECHANGE: {
            auto* state = reinterpret_cast<State*>(GetWindowLongPtrW(window, GWLP_USERDATA));
            const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
            if (state == nullptr || header == nullptr ||
                header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
                return 0;
            }
            // The device name is the wide text 28 bytes into the broadcast.
            const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            if (state->procedure) {
                state->procedure(static_cast<std::uint32_t>(wParam), std::wstring(broadcast->dbcc_name));
            }
            return 0;
        }
        default:
            return 0;
        }
    }

    // Set at creation; used by the owning thread only, apart from `window`, which postClose and a
    // stop request read: it is set before the object is shared and cleared only by the destructor.
    Procedure procedure;
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    HDEVNOTIFY notification = nullptr;
    bool classRegistered = false;
    std::optional<PolledUsbDevices> source;
};

std::unique_ptr<DeviceNotificationWindow>
DeviceNotificationWindow::create(Procedure procedure, std::shared_ptr<const UsbDeviceSource> source) {
    auto state = std::make_unique<State>();
    state->procedure = std::move(procedure);
    if (source) {
        state->source.emplace(std::move(source));
    }
    // The class belongs to the host process's main module, as the window does.
    state->instance = GetModuleHandleW(nullptr);

    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &State::windowProcedure;
    windowClass.hInstance = state->instance;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW));
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExW(&windowClass) != 0) {
        state->classRegistered = true;
    } else if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        // Another listener of this process may hold the class; its procedure is this one.
        return nullptr;
    }

    state->window = CreateWindowExW(0, kClassName, kWindowTitle, WS_MINIMIZE, 0, 0, CW_USEDEFAULT, 0,
                                    HWND_MESSAGE, nullptr, state->instance, state.get());
    if (state->window == nullptr) {
        if (state->classRegistered) {
            UnregisterClassW(kClassName, state->instance);
        }
        return nullptr;
    }
    return std::unique_ptr<DeviceNotificationWindow>(new DeviceNotificationWindow(std::move(state)));
}

DeviceNotificationWindow::DeviceNotificationWindow(std::unique_ptr<State> state) : state_(std::move(state)) {}

DeviceNotificationWindow::~DeviceNotificationWindow() {
    if (state_->notification != nullptr) {
        UnregisterDeviceNotification(state_->notification);
    }
    DestroyWindow(state_->window);
    // Fails harmlessly while another window of the class is alive.
    UnregisterClassW(kClassName, state_->instance);
}

bool DeviceNotificationWindow::notificationsRegistered() const {
    return state_->notification != nullptr || state_->source.has_value();
}

void DeviceNotificationWindow::postClose() {
    PostMessageW(state_->window, WM_CLOSE, 0, 0);
}

PumpEnd DeviceNotificationWindow::pump(std::stop_token stop) {
    HWND window = state_->window;
    // The stop request is looked at, not registered for: with MinGW's libstdc++ (GCC 12) the
    // destructor of a std::stop_callback whose callback runs on the stopping thread at that moment
    // waits on a semaphore that can miss its wake-up, and this thread would never end.
    while (true) {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.hwnd == window && message.message == WM_CLOSE) {
                return PumpEnd::closed;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (stop.stop_requested()) {
            return PumpEnd::stopped;
        }
        const DWORD wait = state_->source
                               ? static_cast<DWORD>(state_->source->millisecondsToNextLook(kPumpWaitMs))
                               : kPumpWaitMs;
        // Sent messages (the broadcasts) are delivered inside the wait as well as by PeekMessageW.
        const DWORD woken = MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_FAILED) {
            return PumpEnd::failed;
        }
        if (state_->source) {
            state_->source->lookIfDue(state_->procedure);
        }
    }
}

} // namespace platform
