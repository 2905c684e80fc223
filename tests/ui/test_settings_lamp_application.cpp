// The settings dialog's password, the connection lamp, and the application object's handling of
// exceptions that escape an event handler.
#include "tests/ui/dialog_fixture.h"

#include "ui/led_indicator.h"
#include "ui/twain_settings.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QEvent>
#include <QtGui/QImage>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>

#include <stdexcept>
#include <thread>

namespace {

using uitest::DialogTest;

TEST_F(DialogTest, SettingsSaveNeedsTheExactPassword) {
    struct Case {
        const char* name;
        const char* password;
        bool templateChosen;
        int templateCalls;
        int singleCalls;
    };
    const Case cases[] = {
        {"empty", "", false, 0, 0},
        {"trailing space", "qelmorvinta ", false, 0, 0},
        {"capitals", "QELMORVINTA", true, 0, 0},
        {"prefix", "qelmorvint", true, 0, 0},
        {"right, S Link", "qelmorvinta", false, 0, 1},
        {"right, M Link", "qelmorvinta", true, 1, 0},
    };
    uitest::application();
    for (const auto& c : cases) {
        int templateCalls = 0;
        int singleCalls = 0;
        TwainSettings settings(
            false, [&] { ++templateCalls; }, [&] { ++singleCalls; }, nullptr);
        settings.show();
        (c.templateChosen ? settings.templateModeButton : settings.singleModeButton)->setChecked(true);
        settings.passwordInput->setText(c.password);
        settings.saveButton->click();
        const bool accepted = c.templateCalls + c.singleCalls > 0;
        EXPECT_EQ(templateCalls, c.templateCalls) << c.name;
        EXPECT_EQ(singleCalls, c.singleCalls) << c.name;
        EXPECT_EQ(settings.isVisible(), !accepted) << c.name;
        EXPECT_EQ(settings.passwordInvalid->text(), accepted ? "" : "Invalid Password.") << c.name;
        EXPECT_EQ(settings.passwordInput->text(), c.password) << c.name;
    }
}

TEST_F(DialogTest, SettingsFormShowsTheCurrentMode) {
    uitest::application();
    for (bool templateMode : {true, false}) {
        TwainSettings settings(templateMode, nullptr, nullptr, nullptr);
        EXPECT_EQ(settings.templateModeButton->isChecked(), templateMode);
        EXPECT_EQ(settings.singleModeButton->isChecked(), !templateMode);
        EXPECT_EQ(settings.passwordInput->echoMode(), QLineEdit::Password);
        EXPECT_EQ(settings.objectName(), "Settings");
        EXPECT_EQ(settings.windowTitle(), "Vanto OSTRA");
        EXPECT_EQ(settings.size(), QSize(395, 281));
        EXPECT_EQ(settings.minimumSize(), settings.maximumSize());
        EXPECT_EQ(settings.passwordInput->geometry(), QRect(140, 180, 131, 27));
        EXPECT_EQ(settings.saveButton->geometry(), QRect(140, 240, 91, 20));
        EXPECT_EQ(settings.label->text(), "Password");
        EXPECT_EQ(settings.templateModeButton->text(), "M Link");
        EXPECT_EQ(settings.singleModeButton->text(), "S Link");
    }
}

TEST_F(DialogTest, SettingsButtonOpensOneDialogThatSwitchesTheMode) {
    auto& dialog = open();
    dialog.show();
    dialog.settingsPopup();
    auto* settings = dialog.findChild<TwainSettings*>();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->isModal());
    EXPECT_TRUE(settings->singleModeButton->isChecked());
    dialog.form().settingsButton->click();
    EXPECT_EQ(dialog.findChildren<TwainSettings*>().size(), 1);

    settings->templateModeButton->setChecked(true);
    settings->passwordInput->setText("qelmorvinta");
    settings->saveButton->click();
    EXPECT_TRUE(dialog.isTemplateMode());
    EXPECT_FALSE(dialog.form().dropdown->isHidden());
    // The finished dialog goes once its own handling is over.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.findChildren<TwainSettings*>().isEmpty());

    dialog.settingsPopup();
    settings = dialog.findChild<TwainSettings*>();
    ASSERT_NE(settings, nullptr);
    EXPECT_TRUE(settings->templateModeButton->isChecked());
    settings->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.findChildren<TwainSettings*>().isEmpty());
    EXPECT_TRUE(dialog.isTemplateMode()) << "closing without saving changes nothing";
}

QRgb lampPixel(LEDIndicator& lamp, QPoint at) {
    return lamp.grab().toImage().pixel(at);
}

TEST_F(DialogTest, LampShowsTheStateInItsCorner) {
    uitest::application();
    LEDIndicator lamp(nullptr);
    EXPECT_EQ(lamp.size(), QSize(28, 28));
    EXPECT_FALSE(lamp.isOn());
    EXPECT_EQ(QColor(lampPixel(lamp, {5, 5})), QColor(Qt::red));
    lamp.setState(true);
    EXPECT_EQ(QColor(lampPixel(lamp, {5, 5})), QColor(Qt::green));
    EXPECT_NE(QColor(lampPixel(lamp, {20, 20})), QColor(Qt::green)) << "only the top-left 10 x 10 pixels";
    lamp.toggle();
    EXPECT_FALSE(lamp.isOn());
    lamp.toggle();
    EXPECT_TRUE(lamp.isOn());
}

TEST_F(DialogTest, ConnectionChangesReachTheLampAlsoFromAnotherThread) {
    auto& dialog = open(true);
    auto* lamp = dialog.findChild<LEDIndicator*>("status_indicator");
    auto* text = dialog.findChild<QLabel*>("status_text");
    EXPECT_TRUE(lamp->isOn());
    EXPECT_EQ(text->text(), "Device Connected !");

    // The device layer invokes the signal by name from its own thread; the change is queued.
    std::thread device(
        [&] { QMetaObject::invokeMethod(&dialog, "isConnected", Qt::AutoConnection, Q_ARG(bool, false)); });
    device.join();
    EXPECT_TRUE(lamp->isOn());
    QCoreApplication::processEvents();
    EXPECT_FALSE(lamp->isOn());
    EXPECT_EQ(text->text(), "Device Disconnected");

    emit dialog.isConnected(true);
    EXPECT_TRUE(lamp->isOn());
}

// An object whose event handler fails.
class Failing : public QObject {
public:
    int handled = 0;
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) {
            throw std::runtime_error("tile image missing");
        }
        if (event->type() == QEvent::User + 1) {
            throw 42;
        }
        ++handled;
        return QObject::event(event);
    }
};

TEST_F(DialogTest, AnExceptionInAnEventHandlerIsLoggedWithTheStackAndTheLoopGoesOn) {
    auto& app = uitest::application();
    Failing target;
    struct Case {
        int type;
        std::vector<std::string> tail;
    };
    const Case cases[] = {
        {QEvent::User, {"exception: tile image missing"}},
        {QEvent::User + 1, {"exception: unknown", "isNull: no"}},
    };
    for (const auto& c : cases) {
        appfiles::startLog();
        QEvent failing(static_cast<QEvent::Type>(c.type));
        EXPECT_TRUE(app.notify(&target, &failing));
        const auto lines = appfiles::logLines();
        ASSERT_GT(lines.size(), c.tail.size() + 1);
        EXPECT_EQ(std::vector<std::string>(lines.end() - c.tail.size(), lines.end()), c.tail);
        // The stack trace comes first, one line per frame, then an empty line.
        EXPECT_EQ(lines[lines.size() - c.tail.size() - 1], "");
        EXPECT_NE(lines.front().find("("), std::string::npos) << lines.front();

        // Posted events still run afterwards.
        const int before = target.handled;
        QCoreApplication::postEvent(&target, new QEvent(static_cast<QEvent::Type>(QEvent::User + 2)));
        QCoreApplication::processEvents();
        EXPECT_EQ(target.handled, before + 1);
    }
}

} // namespace
