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

} // namespace platform
