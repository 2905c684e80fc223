// Faults injected into the stand-ins while an application drives the built source through DS_Entry:
// the DSM's allocations failing one by one, the simulated detector failing, answering late, echoing
// its events and losing its sensor, the configuration folder refusing writes and the log at its size
// limit. Each must get its proper answer, leave nothing behind and keep what was already taken.
#include "dsm/dsm_control.h"
#include "sensor-sim/bus.h"
#include "sensor-sim/faults.h"
#include "support/config_file.h"
#include "support/log.h"
#include "tests/common/acquisition_checks.h"
#include "tests/common/eventually.h"
#include "tests/common/test_env.h"
#include "tests/common/twain_app.h"
#include "tests/support/app_files.h"

#include <QtWidgets/QComboBox>

#include <gtest/gtest.h>

#include <linux/fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testenv::acquisitionDialog;
using testenv::drawnTiles;
using testenv::onDialogThread;

constexpr const char* kSerial = "SN5150";
constexpr const char* kUsbId = "U5150";
constexpr int kBiteswing = 1;

sensorbus::Bus bus() {
    return sensorbus::Bus(testenv::busFolder());
}

void setFault(const std::vector<std::string>& words) {
    std::string error;
    const auto fault = sensorbus::parseFault(words, error);
    ASSERT_TRUE(fault) << error;
    ASSERT_EQ(sensorbus::setFault(bus(), *fault), sensorbus::BusStatus::ok);
}

// Lines of the log that start with `text`.
std::size_t logCount(const std::string& text) {
    const auto lines = appfiles::logLines();
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.compare(0, text.size(), text) == 0;
    }));
}

class Faults : public testing::Test {
protected:
    void SetUp() override {
        OstraDsm_resetControls();
        sensorbus::clearFaults(bus());
        testenv::plugKnownSensor(kSerial, kUsbId);
        ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
        app.dsm(DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &dsm);
    }

    // Open, enabled with the application's callback, a Biteswing series chosen.
    void openForSeries() {
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
        TW_USERINTERFACE ui{1, 0, nullptr};
        ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        TW_CALLBACK2 callback{};
        callback.CallBackProc = reinterpret_cast<TW_MEMREF>(&testenv::onNotification);
        ASSERT_EQ(app.call(DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback), TWRC_SUCCESS);
        ASSERT_TRUE(testenv::eventually(testenv::dialogVisible));
        onDialogThread(
            [] { acquisitionDialog()->findChild<QComboBox*>("dropdown")->setCurrentIndex(kBiteswing); });
    }

    void exposeAndWaitForTiles(int count, int tiles) {
        ASSERT_EQ(bus().requestExposures(kUsbId, count), sensorbus::BusStatus::ok);
        ASSERT_TRUE(testenv::eventually([tiles] { return drawnTiles() >= tiles; }, 60s)) << drawnTiles();
    }

    void save() {
        testenv::press("pushButton");
        ASSERT_TRUE(testenv::notifications().waitFor(MSG_XFERREADY));
    }

    TW_UINT16 pendingCount() {
        TW_PENDINGXFERS pending{};
        EXPECT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending), TWRC_SUCCESS);
        return pending.Count;
    }

    // The front image by memory transfer, `rowsPerStrip` rows a strip; `between` runs after each
    // strip but the last.
    std::vector<char> memoryTransfer(TW_UINT32 rowsPerStrip, const std::function<void()>& between = {}) {
        TW_IMAGEINFO info{};
        EXPECT_EQ(app.call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
        const auto width = static_cast<std::size_t>(info.ImageWidth);
        rowsPerStrip = std::min(rowsPerStrip, static_cast<TW_UINT32>(info.ImageLength));
        std::vector<char> rows(width * static_cast<std::size_t>(info.ImageLength));
        TW_UINT16 rc = TWRC_SUCCESS;
        for (std::size_t row = 0; rc == TWRC_SUCCESS && row < static_cast<std::size_t>(info.ImageLength);) {
            TW_IMAGEMEMXFER strip{};
            strip.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            strip.Memory.Length = static_cast<TW_UINT32>(width * rowsPerStrip);
            std::vector<char> buffer(strip.Memory.Length);
            strip.Memory.TheMem = buffer.data();
            rc = app.call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &strip);
            if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE) {
                ADD_FAILURE() << "strip at row " << row << " answered " << rc << "/" << app.sourceCondition();
                break;
            }
            const TW_UINT32 offset = strip.YOffset; // the record is packed
            const TW_UINT32 count = strip.Rows;
            EXPECT_EQ(offset, row);
            std::memcpy(rows.data() + row * width, buffer.data(), count * width);
            row += count;
            if (rc == TWRC_SUCCESS && between) {
                between();
            }
        }
        EXPECT_EQ(rc, TWRC_XFERDONE);
        return rows;
    }

    void endTransfer() {
        TW_PENDINGXFERS pending{};
        ASSERT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS);
    }

    // Runs `attempt` with the n-th DSM allocation failing, for n = 1, 2, ... until a run asks for
    // fewer than n allocations: that run must answer `done`; every other run TWRC_FAILURE with
    // TWCC_LOWMEMORY, with no handle left behind and `unchanged` holding. Returns the allocations
    // walked.
    unsigned walkAllocations(const char* what, const std::function<TW_UINT16()>& attempt, TW_UINT16 done,
                             const std::function<void()>& unchanged) {
        for (unsigned n = 1; n < 50; ++n) {
            const unsigned outstanding = OstraDsm_outstandingHandles();
            const unsigned before = OstraDsm_allocations();
            OstraDsm_failAllocationNumber(n);
            const TW_UINT16 rc = attempt();
            const unsigned made = OstraDsm_allocations() - before;
            OstraDsm_failAllocationNumber(0);
            if (made < n) {
                EXPECT_EQ(rc, done) << what;
                return n - 1;
            }
            EXPECT_EQ(rc, TWRC_FAILURE) << what << ", allocation " << n;
            EXPECT_EQ(app.sourceCondition(), TWCC_LOWMEMORY) << what << ", allocation " << n;
            EXPECT_EQ(OstraDsm_outstandingHandles(), outstanding) << what << ", allocation " << n;
            EXPECT_EQ(OstraDsm_badFrees(), 0u) << what << ", allocation " << n;
            unchanged();
        }
        ADD_FAILURE() << what << " never stopped allocating";
        return 0;
    }

    void disableAndClose() {
        TW_USERINTERFACE ui{};
        EXPECT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui), TWRC_SUCCESS);
        EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
        EXPECT_EQ(OstraDsm_outstandingHandles(), 0u);
        EXPECT_EQ(OstraDsm_badFrees(), 0u);
    }

    TwainApp app;
    TW_ENTRYPOINT dsm{};
};

TEST_F(Faults, DsmAllocationFailureAtEveryAllocationOfAnswersAndTransfers) {
    updateConfigFile([](ConfigFile& config) { config.auto_save_enabled = false; });
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    const std::pair<TW_UINT16, TW_UINT16> questions[] = {
        {MSG_GET, ICAP_XFERMECH},     {MSG_GETCURRENT, CAP_XFERCOUNT},   {MSG_GETDEFAULT, ICAP_PIXELTYPE},
        {MSG_GET, CAP_SUPPORTEDCAPS}, {MSG_QUERYSUPPORT, ICAP_BITDEPTH}, {MSG_GET, ICAP_PHYSICALWIDTH},
    };
    for (const auto& [msg, id] : questions) {
        TW_CAPABILITY cap{};
        const unsigned walked = walkAllocations(
            "capability answer",
            [&] {
                cap = TW_CAPABILITY{id, TWON_DONTCARE16, nullptr};
                return app.call(DG_CONTROL, DAT_CAPABILITY, msg, &cap);
            },
            TWRC_SUCCESS, [&] { EXPECT_EQ(+cap.hContainer, nullptr); });
        EXPECT_GE(walked, 1u) << id;
        dsm.DSM_MemFree(cap.hContainer);
    }
    ASSERT_EQ(app.closeSource(), TWRC_SUCCESS);

    openForSeries();
    exposeAndWaitForTiles(4, 4);
    save();
    ASSERT_EQ(pendingCount(), 5);

    // Native: the composite stays at the front until a transfer delivers it.
    TW_HANDLE bitmap = nullptr;
    std::vector<char> composite;
    const unsigned native = walkAllocations(
        "native transfer",
        [&] {
            bitmap = nullptr;
            return app.call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &bitmap);
        },
        TWRC_XFERDONE,
        [&] {
            EXPECT_EQ(bitmap, nullptr);
            EXPECT_EQ(pendingCount(), 5);
        });
    EXPECT_EQ(native, 1u);
    ASSERT_NE(bitmap, nullptr);
    dsm.DSM_MemFree(bitmap);
    endTransfer();
    ASSERT_EQ(pendingCount(), 4);

    // Memory: the application owns the buffers, the source asks the DSM for nothing.
    std::vector<char> first;
    const unsigned memory = walkAllocations(
        "memory transfer",
        [&] {
            first = memoryTransfer(2000);
            return TW_UINT16{TWRC_XFERDONE};
        },
        TWRC_XFERDONE, [] {});
    EXPECT_EQ(memory, 0u);
    EXPECT_EQ(first, testenv::expectedPicture(kSerial, kBiteswing, 1, false));
    endTransfer();
    EXPECT_EQ(pendingCount(), 3);

    TW_PENDINGXFERS pending{};
    EXPECT_EQ(app.call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending), TWRC_SUCCESS);
    disableAndClose();
}

TEST_F(Faults, EventAfterDestroyOnceTheDsmUnloadedTheSource) {
    // The detector reports once more after Destroy, 20 ms late, when the DSM has already unloaded
    // the data source the event goes to: the process lives on.
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    ASSERT_EQ(logCount("Ostra created:"), 1u);
    setFault({"event-after-destroy"});
    ASSERT_EQ(app.closeSource(), TWRC_SUCCESS);
    ASSERT_EQ(app.closeDsm(), TWRC_SUCCESS);
    std::this_thread::sleep_for(300ms);
    sensorbus::clearFaults(bus());
    // And the source opens again.
    ASSERT_EQ(app.openDsm(), TWRC_SUCCESS);
    ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
    EXPECT_EQ(app.closeSource(), TWRC_SUCCESS);
}

TEST_F(Faults, SensorPulledOutDuringAnExposureAndATransfer) {
    updateConfigFile([](ConfigFile& config) { config.auto_save_enabled = false; });
    openForSeries();
    exposeAndWaitForTiles(1, 1);

    // Pulled out while exposing: no frame; the destroyed detector still reports an event after
    // Destroy. The tile already taken stays.
    setFault({"unplug-in-exposure"});
    setFault({"event-after-destroy"});
    const std::size_t connects = logCount("onConnect success");
    ASSERT_EQ(bus().requestExposures(kUsbId, 1), sensorbus::BusStatus::ok);
    ASSERT_TRUE(testenv::eventually([] { return !bus().sensor(kUsbId).has_value(); }));
    EXPECT_FALSE(sensorbus::Faults::of(bus()).has("unplug-in-exposure"));
    // A tile drawn late still shows up within the bound.
    EXPECT_FALSE(testenv::eventually([] { return drawnTiles() != 1; }, 1s)) << drawnTiles();
    sensorbus::clearFaults(bus());

    // Plugged in again: the next frame, of a size the product does not have, and two more.
    sensorbus::SensorEntry entry{kUsbId, kSerial, "DS1", std::nullopt};
    ASSERT_EQ(bus().plug(entry), sensorbus::BusStatus::ok);
    ASSERT_TRUE(testenv::eventually([&] { return logCount("onConnect success") > connects; }, 60s));
    setFault({"frame-size", "40", "30"});
    exposeAndWaitForTiles(1, 2);
    sensorbus::clearFaults(bus());
    exposeAndWaitForTiles(2, 4);
    save();
    ASSERT_EQ(pendingCount(), 5);

    memoryTransfer(4000); // the composite
    endTransfer();
    // Pulled out half-way through the first image's strips: every row still arrives.
    bool pulled = false;
    const auto rows = memoryTransfer(300, [&] {
        if (!pulled) {
            pulled = true;
            ASSERT_EQ(bus().unplug(kUsbId), sensorbus::BusStatus::ok);
            std::this_thread::sleep_for(300ms);
        }
    });
    EXPECT_TRUE(pulled);
    EXPECT_EQ(rows, testenv::expectedPicture(kSerial, kBiteswing, 1, false));
    endTransfer();

    TW_IMAGEINFO info{};
    ASSERT_EQ(app.call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS);
    // The frame of the wrong size is kept as it came, turned like every landscape tile.
    EXPECT_EQ(info.ImageWidth * info.ImageLength, 40 * 30);
    int images = 2;
    while (pendingCount() > 0 && images < 10) {
        memoryTransfer(4000);
        endTransfer();
        ++images;
    }
    EXPECT_EQ(images, 5);
    ASSERT_TRUE(testenv::notifications().waitFor(MSG_CLOSEDSREQ));
    disableAndClose();
}

struct OpeningFault {
    std::vector<std::string> fault;
    bool created; // the sensor connects at open all the same
    const char* logged;
};

TEST_F(Faults, OpeningStepsThatFailOrAnswerLateAndALaterOpenWorks) {
    const OpeningFault rows[] = {
        {{"fail", "create", "113"}, false, "create detector failed"},
        {{"fail", "connect", "108"}, false, "create detector failed"},
        {{"fail", "correction", "110"}, false, "create detector failed"},
        {{"fail", "write-params", "101"}, true, "Write params failed:"},
        {{"late", "correction", "2500"}, false, "create detector failed"},
        {{"late", "write-params", "3500"}, true, "Write params failed:"},
        {{"late", "connect", "10500"}, false, "create detector failed"},
        {{"duplicate-events"}, true, "Finihsed trigger mode"},
    };
    for (const auto& row : rows) {
        const std::string name =
            sensorbus::Fault{row.fault[0], {row.fault.begin() + 1, row.fault.end()}}.text();
        setFault(row.fault);
        appfiles::startLog();
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 15s) << name;
        EXPECT_EQ(logCount("Ostra created:"), row.created ? 1u : 0u) << name;
        EXPECT_GE(logCount(row.logged), 1u) << name;
        if (row.created && row.fault[0] == "late") {
            // The late end reaches a detector that gave up waiting for it.
            std::this_thread::sleep_for(1s);
        }
        TW_CAPABILITY cap{ICAP_PHYSICALWIDTH, TWON_DONTCARE16, nullptr};
        EXPECT_EQ(app.call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap), TWRC_SUCCESS) << name;
        dsm.DSM_MemFree(cap.hContainer);
        // Closing waits at most for the attempt of the connection thread in progress.
        const auto closing = std::chrono::steady_clock::now();
        ASSERT_EQ(app.closeSource(), TWRC_SUCCESS) << name;
        EXPECT_LT(std::chrono::steady_clock::now() - closing, 15s) << name;

        sensorbus::clearFaults(bus());
        appfiles::startLog();
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS) << name;
        EXPECT_EQ(logCount("Ostra created:"), 1u) << "after " << name;
        EXPECT_EQ(logCount("Write params failed:"), 0u) << "after " << name;
        ASSERT_EQ(app.closeSource(), TWRC_SUCCESS) << name;
    }
    EXPECT_EQ(OstraDsm_outstandingHandles(), 0u);
}

// Makes a folder refuse new entries for its lifetime: by its mode, and where the process may write
// anyway (as root) by the file system's immutable flag.
class Unwritable {
public:
    explicit Unwritable(fs::path folder) : folder_(std::move(folder)) {
        fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
        if (writable()) {
            setImmutable(true);
        }
    }
    ~Unwritable() {
        setImmutable(false);
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace);
    }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;

    bool writable() const {
        const fs::path probe = folder_ / "probe";
        const int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY, 0600);
        if (fd < 0) {
            return false;
        }
        ::close(fd);
        ::unlink(probe.c_str());
        return true;
    }

private:
    void setImmutable(bool on) {
        const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd < 0) {
            return;
        }
        int flags = 0;
        if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
        ::close(fd);
    }

    fs::path folder_;
};

TEST_F(Faults, ConfigurationFolderUnwritableAndLogAtItsSizeLimit) {
    // A first-time sensor plugged in while the dialog shows: the connection records it in
    // config.json, which cannot be written.
    ASSERT_EQ(bus().unplug(kUsbId), sensorbus::BusStatus::ok);
    const sensorbus::SensorEntry entry{"U6160", "SN6160", "DS1", std::nullopt};
    const fs::path product = appfiles::folder() / "work_dir" / "DS1";
    fs::copy(fs::path(OSTRA_TWAIN_FOLDER) / "DS1", product, fs::copy_options::recursive);
    fs::create_directories(product / "Correct" / "Default");
    std::ofstream(product / "Correct" / "Default" / "offset.dft") << "dark field";
    std::ofstream(product / "Correct" / "Default" / "gain.gn") << "gain";
    updateConfigFile([](ConfigFile& config) { config.last_serial_number.reset(); });
    const std::string before = appfiles::read();

    // The log has reached its limit: emptied before the next record.
    appfiles::startLog();
    fs::resize_file(appfiles::folder() / "ds.log", kLogSizeLimit);
    {
        Unwritable locked(appfiles::folder());
        if (locked.writable()) {
            GTEST_SKIP() << "this system lets the test write into a read-only folder";
        }
        ASSERT_EQ(app.openSource(), TWRC_SUCCESS);
        EXPECT_LT(fs::file_size(appfiles::folder() / "ds.log"), kLogSizeLimit);
        EXPECT_EQ(logCount("OpenDS:"), 1u);
        TW_USERINTERFACE ui{1, 0, nullptr};
        ASSERT_EQ(app.call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        ASSERT_TRUE(testenv::eventually(testenv::dialogVisible));
        ASSERT_EQ(bus().plug(entry), sensorbus::BusStatus::ok);
        ASSERT_TRUE(testenv::eventually([] { return logCount("create_serial_folder 6") > 0; }, 60s));
        EXPECT_TRUE(fs::is_directory(appfiles::folder() / "work_dir" / "SN6160"));
        EXPECT_GE(logCount("writeConfigFileToPath"), 1u); // a write was tried
        EXPECT_EQ(appfiles::read(), before);
        disableAndClose();
    }
    EXPECT_EQ(appfiles::read(), before);
    const auto left = std::count_if(fs::directory_iterator(appfiles::folder()), fs::directory_iterator(),
                                    [](const auto& item) { return item.path().extension() == ".tmp"; });
    EXPECT_EQ(left, 0);
}

} // namespace
