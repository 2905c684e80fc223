// Test support for the acquisition dialog: the Qt application object, the shared records, a dialog
// built on them, exposures, one tick of the dialog's clock, and answerers for message boxes and the folder
// chooser.
#pragma once

#include "device/calibration_handler.h"
#include "tests/support/app_files.h"
#include "ui/my_application.h"
#include "ui/twaindialog.h"

#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace uitest {

// One application object for the whole test process, created as the data source creates it.
inline MyApplication& application() {
    static int argc = 0;
    static MyApplication* app = new MyApplication(argc, nullptr);
    return *app;
}

// Answers the next modal message box with `button` (NoButton: closes it with the window's close
// button) as soon as it shows; records what it showed.
class MessageBoxAnswerer {
public:
    explicit MessageBoxAnswerer(QMessageBox::StandardButton button) : timer(new QTimer) {
        QObject::connect(timer.get(), &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) {
                return;
            }
            timer->stop();
            ++shown;
            title = box->windowTitle();
            text = box->text();
            styleSheet = box->styleSheet();
            icon = box->icon();
            defaultButton =
                box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
            if (button == QMessageBox::NoButton) {
                box->close();
            } else {
                box->button(button)->click();
            }
        });
        timer->start(5);
    }

    int shown = 0;
    QString title;
    QString text;
    QString styleSheet;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;

private:
    std::unique_ptr<QTimer> timer;
};

// Answers the modal windows as they come: a message box with a button, the folder chooser with a
// folder (an empty one cancels it). Records what was shown: the box texts and "chooser".
class Answerer {
public:
    struct Answer {
        QMessageBox::StandardButton button = QMessageBox::NoButton;
        std::filesystem::path folder;
    };

    explicit Answerer(std::deque<Answer> answers) : answers(std::move(answers)) {
        QObject::connect(&timer, &QTimer::timeout, [this] { answerOne(); });
        timer.start(5);
    }

    std::vector<QString> shown;
    std::vector<QString> styles;
    QWidget* chooserParent = nullptr;
    QString chooserStart;
    QString chooserCaption;

private:
    void answerOne() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal->property("answered").toBool()) {
            return;
        }
        modal->setProperty("answered", true);
        const Answer answer = answers.empty() ? Answer{QMessageBox::No, {}} : answers.front();
        if (!answers.empty()) {
            answers.pop_front();
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            shown.push_back(box->text());
            styles.push_back(box->styleSheet());
            for (QAbstractButton* button : box->buttons()) {
                styles.push_back(button->styleSheet());
            }
            QAbstractButton* button = box->button(answer.button);
            (button ? button : box->buttons().front())->click();
        } else if (auto* chooser = qobject_cast<QFileDialog*>(modal)) {
            shown.push_back("chooser");
            chooserParent = chooser->parentWidget();
            chooserStart = chooser->directory().absolutePath();
            chooserCaption = chooser->windowTitle();
            if (answer.folder.empty()) {
                chooser->reject();
            } else {
                chooser->setDirectory(QString::fromStdString(answer.folder.parent_path().string()));
                chooser->selectFile(QString::fromStdString(answer.folder.filename().string()));
                QMetaObject::invokeMethod(chooser, "accept");
            }
        } else {
            modal->close();
        }
    }

    std::deque<Answer> answers;
    QTimer timer;
};

class DialogTest : public testing::Test {
protected:
    void SetUp() override {
        application();
        appfiles::startLog();
    }

    void TearDown() override { dialog.reset(); }

    twaindialog& open(bool connected = false) {
        dialog = std::make_unique<twaindialog>(uiState, indexHandler, retaker, imageHolder, changeData,
                                               configFile, calibration, connected, nullptr);
        return *dialog;
    }

    // One exposure of `width` x `height` samples, all `value` (stored inverted). Like the detector
    // wrapper, it serves the retake waiting first, if any.
    void expose(std::uint16_t value = 1000, int width = 40, int height = 60) {
        const std::vector<std::uint16_t> samples(static_cast<std::size_t>(width) * height, value);
        imageHolder->addImage(width, height, 16, samples.data(), retaker->takeRetake(), indexHandler);
    }

    // One tick of the dialog's own clock.
    void drawTick() { dialog->handleFlicker(); }

    void chooseTemplate(int index) {
        dialog->set_template_mode();
        dialog->form().dropdown->setCurrentIndex(index);
    }

    std::shared_ptr<UIState> uiState = std::make_shared<UIState>();
    std::shared_ptr<IndexHandler> indexHandler = std::make_shared<IndexHandler>();
    std::shared_ptr<Retaker> retaker = std::make_shared<Retaker>();
    std::shared_ptr<ImageHolder> imageHolder = std::make_shared<ImageHolder>();
    std::shared_ptr<ChangeData> changeData = std::make_shared<ChangeData>();
    std::shared_ptr<ConfigFile> configFile = std::make_shared<ConfigFile>();
    std::shared_ptr<CalibrartionHandler> calibration;
    std::unique_ptr<twaindialog> dialog;
};

} // namespace uitest
