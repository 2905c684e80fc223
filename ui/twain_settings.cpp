#include "ui/twain_settings.h"

#include <QtCore/QByteArray>

#include <cstring>
#include <utility>

const std::string settingsPassword = "qelmorvinta";

TwainSettings::TwainSettings(bool templateMode, std::function<void()> onTemplateMode,
                             std::function<void()> onSingleMode, QWidget* parent)
    : QDialog(parent), onTemplateMode(std::move(onTemplateMode)), onSingleMode(std::move(onSingleMode)) {
    setupUi(this);
    passwordInput->setEchoMode(QLineEdit::Password);
    if (templateMode) {
        templateModeButton->setChecked(true);
    } else {
        singleModeButton->setChecked(true);
    }
    setFixedSize(size());
    connect(saveButton, &QPushButton::clicked, this, &TwainSettings::handleSave);
}

void TwainSettings::handleSave() {
    const QByteArray entered = passwordInput->text().toUtf8();
    const bool equal =
        static_cast<std::size_t>(entered.size()) == settingsPassword.size() &&
        std::memcmp(entered.constData(), settingsPassword.data(), settingsPassword.size()) == 0;
    if (!equal) {
        passwordInvalid->setText("Invalid Password.");
        return;
    }
    const auto& chosen = templateModeButton->isChecked() ? onTemplateMode : onSingleMode;
    if (chosen) {
        chosen();
    }
    close();
}
