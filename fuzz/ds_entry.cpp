// Fuzz target: DS_Entry as applications reach it through the stand-in DSM. Each input is an
// application session: its identity, whether a simulated sensor is plugged, callback or message
// loop, then a series of triplets in whatever order the input says (open state or not): capability
// operations with random containers, enable and disable, events, exposures and Save, native and
// memory transfers with random buffers (too small ones too), pending-transfer ends and resets, image
// info and layout, random triplets with null or zeroed data, and direct calls with identities no DSM
// handed out. Some sessions' applications work from inside the source's notification: they
// transfer, disable and close before they return. Every session ends as a careful application ends
// it, and the source must then be closed and every handle it gave back to the application freed.
#include "dsm/dsm_control.h"
#include "fuzz/ds_entry_context.h"
#include "fuzz/ds_entry_session.h"
#include "support/config_file.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;
using namespace dsfuzz;

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

void removeRoot() {
    std::error_code ec;
    fs::remove_all(root, ec);
}

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
    clearNotes();
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
