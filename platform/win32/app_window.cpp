// Windows: a registered window class, a shown top-level window, and a PeekMessageW loop that offers
// every message to the data source before TranslateMessage and DispatchMessageW.
#include "platform/app_window.h"

#include <windows.h>

#include <string>

namespace platform {

namespace {

const wchar_t kClassName[] = L"OstraAcquireWindow";
// Messages handled in one turn at most, so that a flood cannot keep the caller from its own checks.
constexpr int kMessagesPerTurn = 200;

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

std::wstring widened(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    }
    return wide;
}

} // namespace

NativeWindow createApplicationWindow(const std::string& title) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &windowProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        return 0;
    }
    const std::wstring caption = widened(title);
    HWND window = CreateWindowExW(0, kClassName, caption.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 480, 320, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 0;
    }
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return reinterpret_cast<NativeWindow>(window);
}

void destroyApplicationWindow(NativeWindow window) {
    if (window != 0) {
        DestroyWindow(reinterpret_cast<HWND>(window));
    }
}

void turnApplicationMessages(NativeWindow window, const std::function<bool(void* message)>& offer,
                             std::chrono::milliseconds wait) {
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(wait.count()), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
    MSG message{};
    int handled = 0;
    while (handled < kMessagesPerTurn && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ++handled;
        if (!offer(&message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    if (handled == 0) {
        MSG empty{};
        empty.hwnd = reinterpret_cast<HWND>(window);
        empty.message = WM_NULL;
        empty.time = GetTickCount();
        offer(&empty);
    }
}

} // namespace platform
