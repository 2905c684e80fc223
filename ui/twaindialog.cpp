#include "ui/twaindialog.h"

#include "imaging/perform_image_optimization.h"
#include "support/log.h"
#include "ui/template_layouts.h"

#include <QtCore/QEvent>
#include <QtGui/QCloseEvent>
#include <QtGui/QIcon>
#include <QtGui/QIntValidator>
#include <QtGui/QShowEvent>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QWhatsThis>

#include <cmath>
#include <utility>

// The icons are compiled into this library; a static library's resources must be registered by name.
static void initDialogResources() {
    Q_INIT_RESOURCE(qt_images);
}

namespace {

const char* const kMessageBoxStyle = "background-color: rgb(255,255,255);";

void deleteScene(QGraphicsView* view) {
    if (QGraphicsScene* scene = view->scene()) {
        scene->clear();
        view->setScene(nullptr);
        delete scene;
    }
}

} // namespace

twaindialog::twaindialog(std::shared_ptr<UIState> uiState, std::shared_ptr<IndexHandler> indexHandler,
                         std::shared_ptr<Retaker> retaker, std::shared_ptr<ImageHolder> imageHolder,
                         std::shared_ptr<ChangeData> changeData, std::shared_ptr<ConfigFile> configFile,
                         std::shared_ptr<CalibrartionHandler> calibrationHandler, bool connected,
                         QWidget* parent)
    : QDialog(parent), uiState(std::move(uiState)), indexHandler(std::move(indexHandler)),
      retaker(std::move(retaker)), imageHolder(std::move(imageHolder)), changeData(std::move(changeData)),
      configFile(std::move(configFile)), calibrationHandler(std::move(calibrationHandler)),
      optimizedImages(perform_image_optimization) {
    const auto& templates = layoutTemplates();
    singleImageLayout = templates[0].tiles;
    biteswingLayout = templates[1].tiles;
    checkupLayout = templates[2].tiles;
    endoHorizontalLayout = templates[3].tiles;
    fullMouth18Layout = templates[4].tiles;
    fullMouth21Layout = templates[5].tiles;
    verticalEndoLayout = templates[6].tiles;

    initDialogResources();
    ui.setupUi(this);
    // Enter in a value field must never press Save (or any other button).
    for (QPushButton* button : findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    // The controls start from the stored settings, read from the file when none were given.
    const bool ultraHd = config().current_image_mode != 0;
    (ultraHd ? ui.UltraHD : ui.HD)->click();
    this->imageHolder->setUltraHd(ultraHd);

    installEventFilter(this);
    connectionChange(connected);
    connect(this, &twaindialog::isConnected, this, &twaindialog::connectionChange);

    // The designed size where the screen has room for it; a smaller screen scrolls the form.
    wrapInScrollArea();
    fitToScreen();
    placementTimer = new QTimer(this);
    placementTimer->setSingleShot(true);
    placementTimer->setInterval(200);
    connect(placementTimer, &QTimer::timeout, this, [this] {
        if (isVisible()) {
            fitToScreen();
        }
    });

    ui.contrastSlider->setMinimum(1);
    ui.contrastSlider->setValue(50);
    ui.contrastSlider->setMaximum(150);
    ui.brightnessSlider->setValue(50);
    ui.brightnessSlider->setMaximum(180);
    ui.gammaSlider->setValue(68);
    ui.gammaSlider->setMaximum(200);
    for (QSlider* slider : {ui.contrastSlider, ui.brightnessSlider, ui.gammaSlider}) {
        slider->setTracking(false);
    }
    connect(ui.contrastSlider, &QSlider::valueChanged, this, &twaindialog::contrastSliderValueChanged);
    connect(ui.brightnessSlider, &QSlider::valueChanged, this, &twaindialog::brightnessSliderValueChanged);
    connect(ui.gammaSlider, &QSlider::valueChanged, this, &twaindialog::gammaSliderValueChanged);

    writeString2("Starting...");
    layout_setup(singleImageLayout);
    writeString2("Finished layout setup");

    this->indexHandler->onChange = [this](char previous, char selected) {
        onIndexChange(static_cast<signed char>(previous), static_cast<signed char>(selected));
    };

    writeString2("button_setup");
    connect(ui.pushButton, &QPushButton::clicked, this, &twaindialog::handleButton);
    connect(ui.retakeButton, &QPushButton::clicked, this, &twaindialog::retakeImage);
    connect(ui.lockImageParams, &QPushButton::clicked, this, &twaindialog::lockImageParamHandler);
    applyLock(config().image_presets_locked);
    connect(ui.brightness_value, &QLineEdit::textChanged, this, &twaindialog::brightvalueChange);
    connect(ui.contrast_value, &QLineEdit::textChanged, this, &twaindialog::contrastChange);
    connect(ui.gamma_value, &QLineEdit::textChanged, this, &twaindialog::gammaChange);
    for (QLineEdit* field : {ui.brightness_value, ui.contrast_value, ui.gamma_value}) {
        field->setValidator(new QIntValidator(0, 100, field));
    }

    writeString2("dropdown setup");
    for (const auto& layoutTemplate : templates) {
        ui.dropdown->addItem(QString::fromStdString(layoutTemplate.name));
    }
    connect(ui.dropdown, qOverload<int>(&QComboBox::currentIndexChanged), this, &twaindialog::layoutChanged);

    flickerTimer = std::make_shared<QTimer>(this);
    connect(flickerTimer.get(), &QTimer::timeout, this, &twaindialog::handleFlicker);
    flickerTimer->start(200);

    writeString2("rotate_buttonsetup");
    connect(ui.rotateButton, &QToolButton::clicked, this, &twaindialog::rotate);
    connect(ui.rotateCCWButton, &QToolButton::clicked, this, &twaindialog::rotateCCW);
    connect(ui.flipVertical, &QToolButton::clicked, this, &twaindialog::flip_vert);
    connect(ui.flipHorizontal, &QToolButton::clicked, this, &twaindialog::flip_hori);

    writeString2("autosavesetup");
    ui.autoSaveButton->setChecked(config().auto_save_enabled);
    connect(ui.autoSaveButton, &QRadioButton::toggled, this, &twaindialog::autoSaveToggled);
    connect(ui.HD, &QRadioButton::toggled, this, &twaindialog::HDToggled);
    connect(ui.UltraHD, &QRadioButton::toggled, this, &twaindialog::UltraHDToggled);
    connect(ui.contrastBrightnessReset, &QPushButton::clicked, this,
            &twaindialog::contrastBrightnessResetButton);
    connect(ui.settingsButton, &QPushButton::clicked, this, &twaindialog::settingsPopup);

    on_reset(1);
    layout_setup(singleImageLayout);

    if (config().enable_template_mode) {
        set_template_mode();
    } else {
        set_single_mode();
    }
    writeString2("Finished setup");
}

twaindialog::~twaindialog() {
    // The records outlive the dialog: leave no handler behind that refers to it.
    if (indexHandler) {
        indexHandler->onChange = nullptr;
    }
    if (flickerTimer) {
        flickerTimer->stop();
    }
}

QString twaindialog::percentText(int position, int maximum) {
    return QString::number(std::round(static_cast<double>(position) / maximum * 100.0), 'g', 6);
}

ConfigFile& twaindialog::config() {
    if (!configFile) {
        configFile = std::make_shared<ConfigFile>(readConfigFile());
    }
    return *configFile;
}

std::size_t twaindialog::tileCount() const {
    return imageHolder->layouts().size();
}

ImageHolder::Images twaindialog::tileImages() const {
    auto images = imageHolder->snapshot();
    while (!images.empty() && images.front() && images.front()->composite) {
        images.pop_front();
    }
    return images;
}

void twaindialog::layout_setup(const std::vector<GraphicLayout>& layouts) {
    imageHolder->setLayouts(layouts);

    while (views.size() < layouts.size()) {
        const int i = static_cast<int>(views.size());
        writeLog([i](std::ofstream& out) { out << "Create new qgraphic view " << i << std::endl; });
        auto view = std::make_shared<CusQGraphicsView>(i, retaker, ui.widget);
        if (layouts.size() == 1) {
            view->single = true;
        }
        view->clickHandler = [this, i](bool click) {
            if (retakeState == 2) {
                return false;
            }
            indexHandler->select_index(static_cast<signed char>(i), click);
            return true;
        };
        views.push_back(std::move(view));
    }
    writeString2("Finished create new");

    for (std::size_t i = 0; i < layouts.size(); ++i) {
        CusQGraphicsView& view = *views[i];
        if (i == 0) {
            view.single = layouts.size() == 1;
            if (view.label) {
                view.label->setVisible(!view.single);
            }
            view.clickHandler(true);
            writeString2("on_reset 3.1");
            view.onSelected(0);
            writeString2("on_reset 4 no");
        }
        const GraphicLayout& tile = layouts[i];
        view.show();
        view.move(tile.x, tile.y);
        view.setFixedSize(tile.width, tile.height);
    }
    writeString2("Finished set visible");

    for (std::size_t i = layouts.size(); i < views.size(); ++i) {
        views[i]->hide();
        if (QGraphicsScene* scene = views[i]->scene()) {
            scene->clear();
        }
    }
}

void twaindialog::on_reset(unsigned char tileCount) {
    writeLog([tileCount](std::ofstream& out) {
        out << "layout Size " << static_cast<unsigned>(tileCount) << std::endl;
    });
    indexHandler->reset(static_cast<signed char>(tileCount));
    writeString2("on_reset 1");
    retaker->reset();
    writeString2("on_reset 2");
    if (indexHandler->onChange) {
        indexHandler->onChange(-1, -1);
    }
    writeString2("on_reset 3");
    const ImagePreset presets = config().image_presets;
    setSliders(presets.brightness + 50, static_cast<int>(presets.contrast * 50),
               static_cast<int>(presets.gamma * 100));
    writeString2("on_reset 5");
    imageHolder->resetImages();
    autoSaved = false;
    optimizedImages.clear();
    writeString2("on_reset 6");
    for (const auto& view : views) {
        deleteScene(view.get());
    }
    writeString2("on_reset 7");
    if (QGraphicsScene* scene = ui.previewGraphicsView->scene()) {
        scene->clear();
    }
    writeString2("on_reset 8");
}

void twaindialog::setSliders(int brightnessPosition, int contrastPosition, int gammaPosition) {
    if (brightnessPosition != ui.brightnessSlider->sliderPosition()) {
        changeData->brightness = brightnessPosition - 50;
        ui.brightnessSlider->setSliderPosition(brightnessPosition);
    }
    ui.brightness_value->setText(percentText(brightnessPosition, 180));

    if (contrastPosition != ui.contrastSlider->sliderPosition()) {
        changeData->contrast = contrastPosition / 50.0;
        ui.contrastSlider->setSliderPosition(contrastPosition);
    }
    ui.contrast_value->setText(percentText(contrastPosition, 150));

    if (gammaPosition != ui.gammaSlider->sliderPosition()) {
        changeData->gamma = gammaPosition / 100.0;
        ui.gammaSlider->setSliderPosition(gammaPosition);
    }
    ui.gamma_value->setText(percentText(gammaPosition, 200));
}

void twaindialog::applyLock(bool locked) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             ui.brightnessSlider, ui.contrastSlider, ui.gammaSlider, ui.contrastBrightnessReset,
             ui.brightness_value, ui.contrast_value, ui.gamma_value}) {
        control->setEnabled(!locked);
    }
    ui.lockImageParams->setIcon(QIcon(locked ? ":/qt_images/lock_icon.png" : ":/qt_images/unlock_icon.png"));
}

void twaindialog::layoutChanged(int index) {
    writeString2("layout changed");
    if (index == templateIndex) {
        return;
    }
    if (imageHolder->imageCount() > 0) {
        QMessageBox box(QMessageBox::NoIcon, "Ostra",
                        "Are you sure you wish to change layous? Doing so will erase scanned images. Do you "
                        "wish to proceed?",
                        QMessageBox::Yes | QMessageBox::No, this,
                        Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
        box.setDefaultButton(QMessageBox::No);
        box.setStyleSheet(kMessageBoxStyle);
        box.button(QMessageBox::Yes)->setStyleSheet(kMessageBoxStyle);
        box.button(QMessageBox::No)->setStyleSheet(kMessageBoxStyle);
        box.setModal(true);
        if (box.exec() != QMessageBox::Yes) {
            ui.dropdown->setCurrentIndex(templateIndex);
            return;
        }
    }
    templateIndex = index;
    const std::vector<GraphicLayout>* chosen = &singleImageLayout;
    switch (index) {
    case 1:
        chosen = &biteswingLayout;
        break;
    case 2:
        chosen = &checkupLayout;
        break;
    case 3:
        chosen = &endoHorizontalLayout;
        break;
    case 4:
        chosen = &fullMouth18Layout;
        break;
    case 5:
        chosen = &fullMouth21Layout;
        break;
    case 6:
        chosen = &verticalEndoLayout;
        break;
    default:
        break;
    }
    on_reset(static_cast<unsigned char>(chosen->size()));
    layout_setup(*chosen);
}

void twaindialog::set_template_mode() {
    templateMode = true;
    writeString2("set_template_mode");
    ui.dropdown->show();
    config().enable_template_mode = true;
}

void twaindialog::set_single_mode() {
    templateMode = false;
    writeString2("set_single_mode");
    ui.dropdown->hide();
    if (imageHolder->layouts().size() != 1) {
        on_reset(1);
        layout_setup(singleImageLayout);
        ui.dropdown->setCurrentIndex(0);
    }
    config().enable_template_mode = false;
}

void twaindialog::connectionChange(bool connected) {
    ui.status_text->setText(connected ? "Device Connected !" : "Device Disconnected");
    ui.status_indicator->setState(connected);
}

void twaindialog::settingsPopup() {
    if (settingsDialog) {
        return;
    }
    settingsDialog = std::make_unique<TwainSettings>(
        templateMode, [this] { set_template_mode(); }, [this] { set_single_mode(); }, this);
    settingsDialog->setModal(true);
    connect(settingsDialog.get(), &QDialog::finished, this, &twaindialog::settingsFinished);
    settingsDialog->show();
}

void twaindialog::settingsFinished(int) {
    // The settings dialog is still inside its own finishing when this runs: delete it once that
    // has returned.
    if (settingsDialog) {
        settingsDialog.release()->deleteLater();
    }
}

bool twaindialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::EnterWhatsThisMode) {
        return QDialog::eventFilter(watched, event);
    }
    writeString2("twaindialog EVENT EnterWhatsThisMode");
    QWhatsThis::leaveWhatsThisMode();
    QMessageBox box(this);
    box.setIcon(QMessageBox::NoIcon);
    box.setWindowTitle("Program Information");
    box.setStyleSheet(kMessageBoxStyle);
    box.setText("       VANTO OSTRA Sensor\n"
                "       Release 1.0.2\n"
                "\n"
                "       English(United States, Canada)");
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    ok->setEnabled(false);
    ok->hide();
    box.setModal(true);
    box.exec();
    return true;
}

void twaindialog::closeEvent(QCloseEvent* event) {
    writeString2("closeEvent");
    if (!closing && !handedOver && !confirmClose()) {
        event->ignore();
        return;
    }
    // The source acts on the request now: no auto-save may follow it while the dialog is hidden.
    handedOver = true;
    if (uiState) {
        std::uint8_t current = uiState->action.load();
        while (current != UIState::ImagesReady &&
               !uiState->action.compare_exchange_weak(current, UIState::CloseRequested)) {
        }
    }
    if (configFile) {
        // The dialog's own settings only: the serial-number history in the file may have grown
        // since the dialog read it (the device layer records every new sensor) and must stay.
        const ConfigFile mine = *configFile;
        updateConfigFile([&mine](ConfigFile& stored) {
            stored.auto_save_enabled = mine.auto_save_enabled;
            stored.enable_template_mode = mine.enable_template_mode;
            stored.current_image_mode = mine.current_image_mode;
            stored.image_presets = mine.image_presets;
            stored.image_presets_locked = mine.image_presets_locked;
        });
        configFile->presetsChanged = false;
    }
    // The ordinary handling rejects the dialog: it hides and reports `finished`.
    const bool wasClosing = closing;
    closing = true;
    QDialog::closeEvent(event);
    closing = wasClosing;
}

void twaindialog::reject() {
    if (closing) {
        QDialog::reject();
    } else {
        close();
    }
}

void twaindialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        // Shown again by the source after the application refused the saved images: the user
        // saves again, and that save captures the tile area anew, so a capture left in front goes
        // (it belongs to no tile, and a retake counts tiles from the front of the queue).
        handedOver = false;
        imageHolder->endHandover();
        // Exposures held while the images were handed over take the free tiles.
        placeHeldExposures();
        fitToScreen();
    }
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        // Once the window manager has framed the window, its frame is measured and kept inside the
        // screen's available area.
        // A timer of the dialog's own: a pending one-shot of the toolkit would outlive the dialog
        // (and this library, once unloaded) in the event dispatcher.
        placementTimer->start();
    }
}
