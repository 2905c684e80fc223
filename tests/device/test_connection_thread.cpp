// The connection thread end to end on the virtual sensor bus: the start-up attempt, the open on USB
// arrival and the close on removal, the reopen after status 6 and its bound, and stop in every phase.
#include "tests/device/connection_fixture.h"

namespace {

using namespace conntest;

class ConnectionThread : public Connection {
protected:
    // The data source's open when it has no sensor to ask for: the connection is deferred.
    void startDeferred() {
        setStaticInstance(wrapper);
        status->startConnectionThread();
    }

    static bool inPump() { return hasLine("THREAD - starting 2..."); }

    static int count(const std::string& line) { return countLines(appfiles::logLines(), line); }

    // Pulls the sensor out and, once the removal has been seen, plugs it in again.
    void replug(const std::string& serial, const std::string& usbId) {
        const int reports = count("updateConnectionStatus 1");
        unplug(usbId);
        ASSERT_TRUE(eventually([&] { return count("updateConnectionStatus 1") > reports; }))
            << "removal seen";
        plug(serial, usbId);
    }
};

TEST_F(ConnectionThread, PlugOpensCorrectsAndRecordsUnplugCloses) {
    showDialog();
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    EXPECT_EQ(count("THREAD - init Loop 4..."), 1) << "one start-up attempt";
    EXPECT_FALSE(status->detector());

    plug("SN42", "ABC123");
    ASSERT_TRUE(eventually([] { return hasLine("usb listener - retry serial no..."); })) << "arrival handled";
    EXPECT_EQ(status->status(), kStatusReady);
    ASSERT_TRUE(status->detector());
    EXPECT_EQ(status->detector()->getAttrInt(fpd::kAttrConnectionState), 2) << "connected and corrected";
    EXPECT_EQ(status->usbId(), "ABC123") << "the arrival's identifier, in the device's own case";
    const ConfigFile config = readConfigFile();
    EXPECT_EQ(config.previous_serial_numbers_map.at("ABC123"), "SN42");
    EXPECT_TRUE(config.previous_serial_numbers.contains("SN42"));
    EXPECT_EQ(config.last_serial_number, "SN42");
    EXPECT_TRUE(fs::exists(workRoot() / "SN42" / "Correct" / "Default" / "a.gn"));

    unplug("ABC123");
    ASSERT_TRUE(eventually([&] { return !status->detector() && !wrapper->detector(); }));
    EXPECT_TRUE(status->connectionThreadRunning());

    status->stop(true);
    EXPECT_FALSE(status->connectionThreadRunning());
    EXPECT_TRUE(status->idle());
    EXPECT_TRUE(hasLine("THREAD - end start ..."));
    EXPECT_TRUE(hasLine("stopping? true"));
}

TEST_F(ConnectionThread, StartupAttemptOpensPluggedSensor) {
    plug("SN1", "U1");
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    EXPECT_EQ(status->status(), kStatusReady);
    ASSERT_TRUE(wrapper->detector());
    EXPECT_TRUE(hasLine("onConnect failed")) << "no dialog shows it yet";
    status->stop(true);
    EXPECT_FALSE(wrapper->detector()) << "the thread closes the detector as it ends";
    EXPECT_TRUE(hasLineStarting("THREAD - ending 3... time: "));
}

TEST_F(ConnectionThread, SensorOpenedBeforeTheThreadIsKept) {
    plug("SN1", "U1");
    makeSerialFolder("SN1");
    writeHistory("SN1", {"SN1"}, {{"u1", "SN1"}});
    status->setExpectedSerial("SN1");
    ASSERT_TRUE(status->initDevice(wrapper, "SN1", true, std::nullopt));
    status->startConnectionThread();
    ASSERT_TRUE(eventually(inPump));
    EXPECT_EQ(count("THREAD - init Loop 2..."), 0) << "no open attempt";
    EXPECT_EQ(count("initDevice 1"), 1);
    status->stop(true);
}

TEST_F(ConnectionThread, FailedStartupAttemptIsNotRepeated) {
    plug("SN1", "U1");
    // Both product folders name DS2 (kept over the installation's, being newer): no copy connects.
    ASSERT_TRUE(sensorbus::writeProductFile(workRoot() / "DS1", "DS2"));
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    EXPECT_EQ(count("THREAD - init Loop 4..."), 1);
    EXPECT_EQ(status->status(), kStatusNotConnected);
    EXPECT_FALSE(status->detector());
    status->stop(true);
}

TEST_F(ConnectionThread, ReopenAfterStatus6) {
    plug("SN1", "U1");
    makeSerialFolder("SN1");
    writeHistory(std::nullopt, {"SN1"}, {});
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    EXPECT_EQ(count("THREAD - retry serial no..."), 1);
    EXPECT_EQ(count("THREAD - init Loop 4..."), 2);
    EXPECT_EQ(workFolderName(), "SN1");
    EXPECT_EQ(status->status(), kStatusReady);
    status->stop(true);
}

TEST_F(ConnectionThread, RepeatedReopensAreBounded) {
    plug("SN1", "U1");
    // A serial folder that cannot be opened: every attempt falls back to the product copy and asks
    // for the reopen again.
    fs::create_directories(workRoot() / "SN1");
    writeHistory(std::nullopt, {"SN1"}, {});
    showDialog();
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    EXPECT_EQ(count("THREAD - init Loop 4..."), 1 + kMaxReopenAttempts);
    EXPECT_EQ(status->status(), kStatusReopen);

    // The same bound on arrival.
    const int before = count("initDevice 1");
    const int reports = count("updateConnectionStatus 1");
    unplug("U1");
    ASSERT_TRUE(eventually([&] { return count("updateConnectionStatus 1") > reports; })) << "removal seen";
    plug("SN1", "U1");
    ASSERT_TRUE(eventually([] { return hasLine("usb listener - retry serial no..."); }));
    EXPECT_EQ(count("initDevice 1") - before, 1 + kMaxReopenAttempts);
    status->stop(true);
}

TEST_F(ConnectionThread, ArrivalWithoutDialogDoesNotOpen) {
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    plug("SN1", "U1");
    ASSERT_TRUE(eventually([] { return hasLine("usb listener - retry serial no..."); }));
    EXPECT_FALSE(status->detector());
    EXPECT_EQ(count("initDevice 1"), 1) << "only the start-up attempt";
    status->stop(true);
}

TEST_F(ConnectionThread, RemovalWithoutDetectorOnlyReports) {
    plug("SN1", "U1");
    fs::remove_all(workRoot() / "DS1" / "Correct"); // opened, but not corrected: status 3
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    EXPECT_EQ(status->status(), kStatusCorrectionFailed);
    const int reports = count("updateConnectionStatus 1");
    unplug("U1");
    ASSERT_TRUE(eventually([&] { return count("updateConnectionStatus 1") == reports + 1; }));
    status->stop(true);
    EXPECT_EQ(count("destorying device wrapper DeinitV2 1"), 1) << "only the thread's own teardown";
}

// A sensor that cannot start for want of its corrections: the thread goes on to the USB
// notifications instead of waiting; once the user has given up, a replug asks again; an arrival
// while no dialog is shown leaves an open sensor open.
TEST_F(ConnectionThread, MissingCorrectionsLeaveThePumpListening) {
    plug("SN1", "U1");
    fs::remove_all(workRoot() / "DS1" / "Correct");
    EXPECT_FALSE(status->initDevice(wrapper, std::nullopt, false, std::nullopt));
    ASSERT_EQ(status->status(), kStatusCorrectionFailed);
    showDialog();
    status->startConnectionThread();
    ASSERT_TRUE(eventually(inPump));
    EXPECT_LE(count("THREAD - init Loop 2..."), 1) << "no waiting loop";
    EXPECT_TRUE(status->correctionFailed());
    status->acknowledgeStatus(); // the user gives up
    EXPECT_FALSE(status->correctionFailed());

    const int arrivals = count("usb listener - retry serial no...");
    replug("SN1", "U1");
    ASSERT_TRUE(eventually([&] { return count("usb listener - retry serial no...") > arrivals; }));
    EXPECT_EQ(status->status(), kStatusCorrectionFailed);
    EXPECT_TRUE(status->correctionFailed()) << "the replugged sensor asks again";

    // The corrections are there now: the next replug opens the sensor.
    addCorrections(workRoot() / "DS1");
    replug("SN1", "U1");
    ASSERT_TRUE(eventually([&] { return status->status() == kStatusReady && status->detector(); }));

    // No dialog: another sensor's arrival leaves the open one as it is.
    const auto opened = status->detector();
    wrapper->takeDialog().reset();
    const int before = count("usb listener - retry serial no...");
    plug("SN2", "U2");
    ASSERT_TRUE(eventually([&] { return count("usb listener - retry serial no...") > before; }));
    EXPECT_EQ(status->detector(), opened);
    EXPECT_EQ(opened->getAttrInt(fpd::kAttrConnectionState), 2);
    status->stop(true);
}

TEST_F(ConnectionThread, StopDuringPauseEndsTheLoop) {
    plug("SN1", "U1");
    status->pauseConnection();
    startDeferred();
    ASSERT_TRUE(eventually([&] { return count("THREAD - init Loop 2...") >= 3; }));
    status->stop(true);
    EXPECT_FALSE(status->connectionThreadRunning());
    EXPECT_EQ(count("THREAD - init Loop 3..."), 0);
}

TEST_F(ConnectionThread, PausedLoopWaitsAndResumes) {
    plug("SN1", "U1");
    status->pauseConnection();
    startDeferred();
    ASSERT_TRUE(eventually([&] { return count("THREAD - init Loop 2...") >= 2; }));
    EXPECT_EQ(count("THREAD - init Loop 4..."), 0);
    status->resumeConnection();
    ASSERT_TRUE(eventually(inPump));
    EXPECT_EQ(status->status(), kStatusReady);
    status->stop(true);
}

TEST_F(ConnectionThread, StopWithoutJoinEndsOnItsOwn) {
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    status->stop(false);
    EXPECT_TRUE(status->idle());
    EXPECT_TRUE(eventually([&] { return !status->connectionThreadRunning(); }));
    EXPECT_TRUE(hasLineStarting("THREAD - ending 3... time: "));
}

TEST_F(ConnectionThread, StopWithoutThreadAndTwice) {
    status->stop(true);
    status->stop(true);
    status->stop(false);
    EXPECT_TRUE(status->idle());
    EXPECT_EQ(count("stop 3"), 3);
    EXPECT_EQ(count("stopping? true"), 1);
}

TEST_F(ConnectionThread, RestartAfterStop) {
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    status->stop(false);
    status->startConnectionThread();
    EXPECT_FALSE(status->idle());
    ASSERT_TRUE(eventually([&] { return count("THREAD - starting 2...") == 2; }));
    status->startConnectionThread(); // one runs already: no second thread
    status->stop(true);
    EXPECT_EQ(count("THREAD - starting..."), 2);
}

TEST_F(ConnectionThread, StoppedRightAfterStartOrDestroyedWhileRunning) {
    startDeferred();
    status->stop(true); // before the thread has its window
    EXPECT_FALSE(status->connectionThreadRunning());
    startDeferred();
    ASSERT_TRUE(eventually(inPump));
    status.reset();
    EXPECT_EQ(count("THREAD - starting 2..."), 2);
}

} // namespace
