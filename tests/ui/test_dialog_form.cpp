// The acquisition dialog's form, its start-up from the configuration, close and the program
// information box.
#include "tests/ui/dialog_fixture.h"
#include <algorithm>

#include <QtCore/QEvent>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QRadioButton>
#include <QtWidgets/QSlider>
#include <QtWidgets/QToolButton>

#include <nlohmann/json.hpp>

namespace {

using uitest::DialogTest;

TEST_F(DialogTest, FormWidgetsHaveTheirNamesClassesAndPlaces) {
    struct Widget {
        const char* name;
        const char* className;
        QRect geometry;
    };
    const Widget widgets[] = {
        {"dropdown", "QComboBox", {450, 30, 151, 26}},
        {"widget", "QWidget", {20, 70, 741, 531}},
        {"horizontalLayoutWidget", "QWidget", {210, 630, 331, 51}},
        {"previewGraphicsView", "QGraphicsView", {900, 100, 300, 450}},
        {"horizontalLayoutWidget_2", "QWidget", {930, 60, 221, 31}},
        {"verticalLayoutWidget", "QWidget", {940, 570, 231, 91}},
        {"contrastBrightnessReset", "QPushButton", {1000, 670, 81, 31}},
        {"verticalLayoutWidget_2", "QWidget", {900, 570, 32, 91}},
        {"widget_2", "QWidget", {140, 20, 161, 31}},
        {"frame", "QFrame", {0, 740, 1321, 31}},
        {"groupBox", "QGroupBox", {970, 20, 134, 38}},
        {"lockImageParams", "QPushButton", {1090, 670, 31, 31}},
        {"verticalLayoutWidget_3", "QWidget", {1177, 570, 261, 95}},
        {"settingsButton", "QPushButton", {1260, -10, 71, 51}},
        {"status_text", "QLabel", {30, 0, 141, 31}},
        // The lamp keeps its own size.
        {"status_indicator", "LEDIndicator", {10, 10, 28, 28}},
    };
    auto& dialog = open();
    dialog.show();
    for (const auto& expected : widgets) {
        auto* widget = dialog.findChild<QWidget*>(expected.name);
        ASSERT_NE(widget, nullptr) << expected.name;
        EXPECT_STREQ(widget->metaObject()->className(), expected.className) << expected.name;
        EXPECT_EQ(widget->geometry(), expected.geometry) << expected.name;
    }

    // Widgets placed by layouts: the holder each sits in, top to bottom or left to right.
    const std::pair<const char*, std::vector<const char*>> held[] = {
        {"horizontalLayoutWidget", {"autoSaveButton", "pushButton", "retakeButton"}},
        {"horizontalLayoutWidget_2", {"rotateButton", "rotateCCWButton", "flipVertical", "flipHorizontal"}},
        {"verticalLayoutWidget", {"brightnessSlider", "contrastSlider", "gammaSlider"}},
        {"verticalLayoutWidget_2", {"toolButton_7", "toolButton_6", "label"}},
        {"groupBox", {"HD", "UltraHD"}},
        {"verticalLayoutWidget_3", {"brightness_value", "contrast_value", "gamma_value"}},
    };
    for (const auto& [holder, names] : held) {
        QPoint last(-1, -1);
        for (const char* name : names) {
            auto* widget = dialog.findChild<QWidget*>(name);
            ASSERT_NE(widget, nullptr) << name;
            EXPECT_EQ(widget->parentWidget()->objectName(), holder) << name;
            EXPECT_TRUE(widget->x() > last.x() || widget->y() > last.y()) << name;
            last = widget->pos();
        }
    }
    // The form keeps its designed size; the dialog is fixed at it where the screen has room (the
    // offscreen screen is 800 x 600: there it fits the screen and the form scrolls).
    EXPECT_EQ(dialog.content()->size(), QSize(1320, 770));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_LE(dialog.width(), 1320);
    EXPECT_LE(dialog.height(), 770);
}

TEST_F(DialogTest, FormTextsAndStartingState) {
    auto& dialog = open();
    EXPECT_EQ(dialog.objectName(), "twaindialog");
    EXPECT_EQ(dialog.windowTitle(), "Vanto OSTRA");
    EXPECT_EQ(dialog.styleSheet(), "background-color: rgb(0, 0, 0)");
    EXPECT_FALSE(dialog.windowIcon().isNull());

    const std::pair<const char*, QString> texts[] = {
        {"autoSaveButton", "Auto Save"},
        {"pushButton", "Save"},
        {"retakeButton", "Re-take"},
        {"rotateButton", "RC"},
        {"rotateCCWButton", "RR"},
        {"flipVertical", "FV"},
        {"flipHorizontal", "FH"},
        {"contrastBrightnessReset", "Reset"},
        {"HD", "HD"},
        {"UltraHD", "Ultra HD"},
        {"toolButton_7", ""},
        {"toolButton_6", ""},
        {"lockImageParams", ""},
        {"settingsButton", ""},
    };
    for (const auto& [name, text] : texts) {
        auto* button = dialog.findChild<QAbstractButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->text(), text) << name;
    }
    EXPECT_EQ(dialog.findChild<QLabel*>("label")->text(), QString::fromUtf8("   \u03b3"));
    EXPECT_EQ(dialog.findChild<QGroupBox*>("groupBox")->title(), "GroupBox");
    EXPECT_EQ(dialog.findChild<QLabel*>("status_text")->text(), "Device Disconnected");

    const std::vector<QString> combo = {"Single Image",  "Biteswing",     "Checkup",      "Endo Horizontal",
                                        "Full Mouth 18", "Full Mouth 21", "Vertical Endo"};
    auto* dropdown = dialog.findChild<QComboBox*>("dropdown");
    ASSERT_EQ(dropdown->count(), static_cast<int>(combo.size()));
    for (int i = 0; i < dropdown->count(); ++i) {
        EXPECT_EQ(dropdown->itemText(i), combo[i]);
    }

    // The reset at start writes the fields from the default presets (brightness 0, contrast 1.0,
    // gamma 0.68) as percentages of the slider ranges.
    EXPECT_EQ(dialog.findChild<QLineEdit*>("brightness_value")->text(), "28");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("contrast_value")->text(), "33");
    EXPECT_EQ(dialog.findChild<QLineEdit*>("gamma_value")->text(), "34");
    const std::tuple<const char*, int, int, int> sliders[] = {
        {"brightnessSlider", 0, 180, 50}, {"contrastSlider", 1, 150, 50}, {"gammaSlider", 0, 200, 68}};
    for (const auto& [name, minimum, maximum, position] : sliders) {
        auto* slider = dialog.findChild<QSlider*>(name);
        EXPECT_EQ(slider->minimum(), minimum) << name;
        EXPECT_EQ(slider->maximum(), maximum) << name;
        EXPECT_EQ(slider->sliderPosition(), position) << name;
        EXPECT_FALSE(slider->hasTracking()) << name;
    }
    EXPECT_FALSE(dialog.findChild<QPushButton*>("retakeButton")->isEnabled());
    EXPECT_EQ(indexHandler->selected, 0) << "tile 0 is selected after the start";
    EXPECT_EQ(indexHandler->upperLimit, 1);
}

TEST_F(DialogTest, StartFollowsTheConfiguration) {
    struct Case {
        const char* name;
        std::uint8_t imageMode;
        bool autoSave;
        bool locked;
        bool templateMode;
    };
    const Case cases[] = {
        {"defaults", 1, false, false, false},
        {"HD, auto save, locked, template mode", 0, true, true, true},
    };
    for (const auto& c : cases) {
        configFile = std::make_shared<ConfigFile>();
        configFile->current_image_mode = c.imageMode;
        configFile->auto_save_enabled = c.autoSave;
        configFile->image_presets_locked = c.locked;
        configFile->enable_template_mode = c.templateMode;
        imageHolder->setUltraHd(true);
        auto& dialog = open();

        EXPECT_EQ(dialog.findChild<QRadioButton*>("UltraHD")->isChecked(), c.imageMode == 1) << c.name;
        EXPECT_EQ(dialog.findChild<QRadioButton*>("HD")->isChecked(), c.imageMode == 0) << c.name;
        EXPECT_EQ(imageHolder->ultraHd(), c.imageMode == 1) << c.name;
        EXPECT_EQ(dialog.findChild<QRadioButton*>("autoSaveButton")->isChecked(), c.autoSave) << c.name;
        for (const char* name :
             {"brightnessSlider", "contrastSlider", "gammaSlider", "contrastBrightnessReset",
              "brightness_value", "contrast_value", "gamma_value"}) {
            EXPECT_EQ(dialog.findChild<QWidget*>(name)->isEnabled(), !c.locked) << c.name << " " << name;
        }
        EXPECT_TRUE(dialog.findChild<QWidget*>("lockImageParams")->isEnabled()) << c.name;
        EXPECT_EQ(dialog.isTemplateMode(), c.templateMode) << c.name;
        EXPECT_EQ(dialog.findChild<QComboBox*>("dropdown")->isHidden(), !c.templateMode) << c.name;
    }
}

TEST_F(DialogTest, WithoutAConfigurationRecordTheFileIsRead) {
    appfiles::writeConfig(R"({"auto_save_enabled":true,"enable_template_mode":true,)"
                          R"("image_presets":{"brightness":10,"contrast":2.0,"gamma":1.0}})");
    configFile = nullptr;
    auto& dialog = open();
    ASSERT_NE(dialog.configuration(), nullptr);
    EXPECT_TRUE(dialog.configuration()->auto_save_enabled);
    // Ultra HD is chosen when no record was given, before the file is read.
    EXPECT_TRUE(dialog.findChild<QRadioButton*>("UltraHD")->isChecked());
    EXPECT_EQ(dialog.findChild<QLineEdit*>("brightness_value")->text(), "33"); // 60 of 180
    EXPECT_EQ(dialog.findChild<QLineEdit*>("contrast_value")->text(), "67");   // 100 of 150
    EXPECT_EQ(dialog.findChild<QLineEdit*>("gamma_value")->text(), "50");      // 100 of 200
    EXPECT_EQ(changeData->brightness, 10);
    EXPECT_EQ(changeData->contrast, 2.0);
    EXPECT_EQ(changeData->gamma, 1.0);
}

TEST_F(DialogTest, CloseRequestsClosingUnlessASaveIsPendingAndWritesTheConfiguration) {
    const std::pair<std::uint8_t, std::uint8_t> cases[] = {
        {UIState::Nothing, UIState::CloseRequested},
        {UIState::ContrastChanged, UIState::CloseRequested},
        {UIState::ImagesReady, UIState::ImagesReady},
    };
    for (const auto& [before, after] : cases) {
        std::filesystem::remove(appfiles::config());
        auto& dialog = open();
        dialog.configuration()->auto_save_enabled = true;
        dialog.configuration()->presetsChanged = true;
        uiState->action = before;
        dialog.show();
        dialog.close();
        EXPECT_EQ(uiState->action, after) << int(before);
        EXPECT_FALSE(dialog.configuration()->presetsChanged);
        const auto stored = nlohmann::json::parse(appfiles::read());
        EXPECT_EQ(stored["auto_save_enabled"], true);
    }
}

TEST_F(DialogTest, CloseKeepsTheSerialHistoryRecordedWhileTheDialogWasOpen) {
    auto& dialog = open();
    dialog.configuration()->enable_template_mode = true;
    // A sensor plugged in meanwhile: the device layer records it in the file.
    updateConfigFile([](ConfigFile& config) {
        config.last_serial_number = "SN77";
        config.previous_serial_numbers.insert("SN77");
        config.previous_serial_numbers_map["u77"] = "SN77";
    });
    dialog.show();
    dialog.close();
    const ConfigFile stored = readConfigFile();
    EXPECT_TRUE(stored.enable_template_mode);
    EXPECT_EQ(stored.last_serial_number, "SN77");
    EXPECT_EQ(stored.previous_serial_numbers.count("SN77"), 1u);
    EXPECT_EQ(stored.previous_serial_numbers_map.at("u77"), "SN77");
}

TEST_F(DialogTest, WhatsThisShowsTheProgramInformation) {
    auto& dialog = open();
    uitest::MessageBoxAnswerer answer(QMessageBox::NoButton);
    QEvent event(QEvent::EnterWhatsThisMode);
    QApplication::sendEvent(&dialog, &event);
    EXPECT_EQ(answer.shown, 1);
    EXPECT_EQ(answer.title, "Program Information");
    EXPECT_EQ(answer.icon, QMessageBox::NoIcon);
    EXPECT_EQ(answer.styleSheet, "background-color: rgb(255,255,255);");
    EXPECT_TRUE(answer.text.startsWith("       VANTO OSTRA Sensor\n       Release 1.0.2\n\n"
                                       "       English(United States, Canada)"))
        << answer.text.toStdString();
    // The clock keeps ticking (and logging) while the box is shown.
    const auto lines = appfiles::logLines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "twaindialog EVENT EnterWhatsThisMode"), lines.end());

    // Other events pass on.
    QEvent other(QEvent::WhatsThisClicked);
    QApplication::sendEvent(&dialog, &other);
    EXPECT_EQ(answer.shown, 1);
}

} // namespace
