// The device-interface path of a USB device, in the system's form on every system.
#include "platform/usb_devices.h"

#include <cwchar>

namespace platform {

std::wstring usbDevicePath(std::uint16_t vendorId, std::uint16_t productId, std::wstring_view serial) {
    wchar_t ids[32];
    std::swprintf(ids, sizeof ids / sizeof ids[0], L"VID_%04X&PID_%04X", vendorId, productId);
    std::wstring path = L"\\\\?\\USB#";
    path += ids;
    path += L'#';
    path += serial;
    path += L'#';
    path += kUsbDeviceInterfaceClass;
    return path;
}

std::wstring widenedUsbText(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (unsigned char c : text) {
        wide.push_back(static_cast<wchar_t>(c));
    }
    return wide;
}

std::wstring lowerCaseUsbPath(std::wstring path) {
    for (auto& c : path) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return path;
}

} // namespace platform
