// The password-protected dialog in which the user switches the acquisition window between template
// mode ("M Link") and single-image mode ("S Link").
#pragma once

#include "ui_settings.h"

#include <QtWidgets/QDialog>

#include <functional>
#include <string>

// The access code of the mode switch.
extern const std::string settingsPassword;

class TwainSettings : public QDialog, public Ui::Settings {
    Q_OBJECT

public:
    // `templateMode` chooses which button starts checked. Save with the right password runs
    // `onTemplateMode` or `onSingleMode` for the checked button and closes the dialog.
    TwainSettings(bool templateMode, std::function<void()> onTemplateMode, std::function<void()> onSingleMode,
                  QWidget* parent);

public slots:
    void handleSave();

private:
    std::function<void()> onTemplateMode;
    std::function<void()> onSingleMode;
};
