// Fuzz target: device-interface names as the USB service and the system's broadcasts hand them to the
// device layer. Each input is a broadcast kind and a name of arbitrary wide characters; the name goes
// through extractUsbId under both markers, through the broadcast handling of the connection thread's
// listener, and, made into the path of a bus sensor, back to the identifier it was made from.
#include "device/usb_listener.h"
#include "platform/usb_devices.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Fails the input: libFuzzer reports the abort with the input that led to it.
void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

std::wstring wideText(FuzzedDataProvider& data, std::size_t maxLength) {
    const std::size_t length = data.ConsumeIntegralInRange<std::size_t>(0, maxLength);
    std::wstring text;
    for (std::size_t i = 0; i < length && data.remaining_bytes() > 0; ++i) {
        // Mostly the characters of real paths, now and then any 32-bit unit.
        switch (data.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            text.push_back(static_cast<wchar_t>(data.ConsumeIntegral<std::uint32_t>()));
            break;
        case 1:
            text.push_back(data.PickValueInArray({L'#', L'\\', L'?', L'&', L'{', L'}', L'_'}));
            break;
        case 2:
            text += data.PickValueInArray({L"iRay", L"iray", L"IRAY", L"USB#VID_1209&PID_0001#", L"#"});
            break;
        default:
            text.push_back(static_cast<wchar_t>(data.ConsumeIntegralInRange<int>(0x20, 0x7E)));
            break;
        }
    }
    return text;
}

// What extractUsbId promises: a value only when the marker is there and a "#" follows it, and then
// exactly the low bytes of the units between the first marker and the last "#".
void checkExtraction(const std::wstring& path, std::wstring_view marker) {
    const auto id = extractUsbId(path, marker);
    const auto start = marker.empty() ? std::wstring::npos : path.find(marker);
    const auto end = path.rfind(L'#');
    if (start == std::wstring::npos || end == std::wstring::npos || end < start + marker.size()) {
        require(!id);
        return;
    }
    require(id.has_value());
    require(id->size() == end - start - marker.size());
    for (std::size_t i = 0; i < id->size(); ++i) {
        require(static_cast<unsigned char>((*id)[i]) ==
                static_cast<unsigned char>(path[start + marker.size() + i] & 0xFF));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    const std::uint32_t kind =
        data.ConsumeBool()
            ? data.PickValueInArray({platform::kDeviceArrival, platform::kDeviceRemoveComplete})
            : data.ConsumeIntegral<std::uint32_t>();
    const bool withHolder = data.ConsumeIntegralInRange<int>(0, 7) != 0;
    const bool withCallbacks = data.ConsumeIntegralInRange<int>(0, 7) != 0;
    const std::wstring name = wideText(data, 300);

    checkExtraction(name, kBroadcastMarker);
    checkExtraction(name, kEnumerationMarker);
    checkExtraction(name, std::wstring_view());

    // The listener's handling: one callback at most, and only for a sensor's name.
    int arrivals = 0;
    int removals = 0;
    std::string arrived;
    DeviceStatusHolder holder;
    if (withCallbacks) {
        holder.onArrival = [&](const std::string& id) {
            ++arrivals;
            arrived = id;
        };
        holder.onRemoval = [&] { ++removals; };
    }
    handleDeviceChange(withHolder ? &holder : nullptr, kind, name);
    const bool sensor = name.find(kBroadcastMarker) != std::wstring::npos;
    const bool reaches = withHolder && withCallbacks && sensor;
    require(arrivals == (reaches && kind == platform::kDeviceArrival ? 1 : 0));
    require(removals == (reaches && kind == platform::kDeviceRemoveComplete ? 1 : 0));
    if (arrivals == 1) {
        require(arrived == extractUsbId(name, kBroadcastMarker).value_or(std::string()));
    }

    // A bus sensor's path gives back the identifier in its serial string, whatever bytes the
    // identifier holds short of a "#" (which ends the serial part of a path).
    std::wstring serialTail = wideText(data, 64);
    std::string expected;
    for (auto& unit : serialTail) {
        unit = static_cast<wchar_t>(static_cast<unsigned char>(unit & 0xFF));
        if (unit == L'#') {
            unit = L'_';
        }
        expected.push_back(static_cast<char>(unit));
    }
    const std::wstring path = platform::usbDevicePath(
        data.ConsumeIntegral<std::uint16_t>(), data.ConsumeIntegral<std::uint16_t>(), L"iRay" + serialTail);
    const auto fromPath = extractUsbId(path, kBroadcastMarker);
    require(fromPath.has_value() && *fromPath == expected);
    return 0;
}
