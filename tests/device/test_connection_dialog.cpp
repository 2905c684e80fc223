// The connection state reaches the real acquisition dialog's lamp: queued from the connection thread,
// direct on the dialog's own thread, and not at all once the dialog is gone.
#include "tests/device/connection_fixture.h"
#include "tests/ui/dialog_fixture.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QTimer>

#include <algorithm>
#include <iterator>

namespace {

using namespace conntest;

class ConnectionDialog : public Connection {
protected:
    void SetUp() override {
        Connection::SetUp();
        // The leak checker loses sight of the toolkit's platform objects when an instrumented library
        // is first loaded after the application object exists: the SDK is loaded before it.
        static const platform::Module sdk = platform::Module::load(
            fs::path(OSTRA_TWAIN_FOLDER) / platform::libraryFileName(fpd::kLibraryName));
        ASSERT_TRUE(sdk.loaded());
        uitest::application();
        auto owned =
            std::make_unique<twaindialog>(wrapper->state, wrapper->indices, wrapper->retaker, wrapper->images,
                                          wrapper->changes, wrapper->config, status, false, nullptr);
        dialog = owned.get();
        wrapper->setDialog(std::move(owned));
        setStaticInstance(wrapper);
    }

    void TearDown() override {
        if (status) {
            status->stop(true);
        }
        QCoreApplication::processEvents();
        Connection::TearDown();
    }

    bool lampOn() const { return dialog->form().status_indicator->isOn(); }
    QString lampText() const { return dialog->form().status_text->text(); }

    // Lets the dialog's thread run until pred holds, within a bound.
    static bool processUntil(const std::function<bool()>& pred) {
        return eventually([&] {
            QCoreApplication::processEvents();
            return pred();
        });
    }

    twaindialog* dialog = nullptr;
};

TEST_F(ConnectionDialog, StatusFromAnotherThreadIsQueued) {
    bool accepted = false;
    std::thread([&] { accepted = status->updateConnectionStatus(true); }).join();
    EXPECT_TRUE(accepted);
    EXPECT_FALSE(lampOn()) << "not before the dialog's thread runs";
    ASSERT_TRUE(processUntil([&] { return lampOn(); }));
    EXPECT_EQ(lampText(), "Device Connected !");
    EXPECT_TRUE(hasLine("updateConnectionStatus 3"));

    // On the dialog's own thread the call is queued too: a slot that reaches the wrapper runs once
    // no lock is held (a direct call under the wrapper's lock would wait on itself).
    bool reached = false;
    QObject::connect(dialog, &twaindialog::isConnected, dialog,
                     [&](bool) { reached = wrapper->hasDialog(); });
    EXPECT_TRUE(status->acknowledgeStatus());
    ASSERT_TRUE(processUntil([&] { return !lampOn(); }));
    EXPECT_TRUE(reached);
    EXPECT_EQ(lampText(), "Device Disconnected");
}

// A sensor that cannot start for want of its corrections is not shown as connected.
TEST_F(ConnectionDialog, LampStaysOffWhileCorrectionsAreMissing) {
    for (auto* timer : dialog->findChildren<QTimer*>()) {
        timer->stop(); // the dialog's clock would ask for the corrections
    }
    plug("SN8", "U8");
    fs::remove_all(workRoot() / "DS1" / "Correct");
    std::thread([&] { EXPECT_FALSE(status->initDevice(wrapper, std::nullopt, false, std::nullopt)); }).join();
    ASSERT_EQ(status->status(), kStatusCorrectionFailed);
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(lampOn());
    EXPECT_EQ(lampText(), "Device Disconnected");
}

TEST_F(ConnectionDialog, WithoutDialogNothingIsCalled) {
    wrapper->takeDialog().reset();
    appfiles::startLog();
    EXPECT_FALSE(status->updateConnectionStatus(true));
    EXPECT_EQ(appfiles::logLines(),
              (std::vector<std::string>{"updateConnectionStatus 1", "updateConnectionStatus 2 -- S ", ""}));
}

TEST_F(ConnectionDialog, LampFollowsPlugAndUnplug) {
    status->startConnectionThread();
    ASSERT_TRUE(processUntil([] { return hasLine("THREAD - starting 2..."); }));
    plug("SN8", "U8");
    ASSERT_TRUE(processUntil([&] { return lampOn() && status->status() == kStatusReady; }));
    unplug("U8");
    ASSERT_TRUE(processUntil([&] { return !lampOn() && !status->detector(); }));
    status->stop(true);

    // The arrival posted to the lamp only once its whole open had ended and the device lock was
    // free: nothing between its first and its last line under the lock.
    const auto lines = appfiles::logLines();
    const auto last = std::find(lines.begin(), lines.end(), "usb listener - retry serial no...");
    ASSERT_NE(last, lines.end());
    const auto first = std::find(std::make_reverse_iterator(last), lines.rend(), "initDevice 1");
    ASSERT_NE(first, lines.rend());
    EXPECT_EQ(std::find(first.base(), last, "updateConnectionStatus 1"), last);
    EXPECT_EQ(std::count(last, lines.end(), "updateConnectionStatus 3"), 2) << "arrival, then removal";
}

} // namespace
