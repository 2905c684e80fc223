// The acquisition dialog: the tiles of a dental series template, the large preview, the connection
// lamp, the adjustment controls and the image actions. It holds no images of its own; it reads and
// writes the shared acquisition records and is driven by its 200 ms clock.
#pragma once

#include "imaging/change_data.h"
#include "imaging/graphic_layout.h"
#include "imaging/image.h"
#include "imaging/image_holder.h"
#include "imaging/index_handler.h"
#include "imaging/retaker.h"
#include "imaging/ui_state.h"
#include "support/config_file.h"
#include "ui/cus_qgraphics_view.h"
#include "ui/optimized_image_cache.h"
#include "ui/turned_image.h"
#include "ui/twain_settings.h"
#include "ui_twaindialog.h"

#include <QtCore/QTimer>
#include <QtWidgets/QDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QScrollArea>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

// The device layer's side of the correction-files exchange; implemented by the device status.
class CalibrartionHandler;

// Everything here runs on the application's thread. The only entry from another thread is the
// `isConnected` signal, which the device layer invokes by name with automatic connection, so that
// its call is queued to this thread.
class twaindialog : public QDialog {
    Q_OBJECT

public:
    // Every record must be given except `configFile` (read from the file when null) and
    // `calibrationHandler`. `connected` sets the lamp. The clock starts at once.
    twaindialog(std::shared_ptr<UIState> uiState, std::shared_ptr<IndexHandler> indexHandler,
                std::shared_ptr<Retaker> retaker, std::shared_ptr<ImageHolder> imageHolder,
                std::shared_ptr<ChangeData> changeData, std::shared_ptr<ConfigFile> configFile,
                std::shared_ptr<CalibrartionHandler> calibrationHandler, bool connected, QWidget* parent);
    ~twaindialog() override;

    // Template change or reset: `tileCount` tiles, nothing selected, no image, every view empty.
    void on_reset(unsigned char tileCount);
    // Shows the views of `layouts` at their places (creating views as needed) and hides the others.
    void layout_setup(const std::vector<GraphicLayout>& layouts);
    // Moves the slider handles (without running their handlers) and writes the value fields.
    void setSliders(int brightnessPosition, int contrastPosition, int gammaPosition);
    // Disables (locked) or enables the adjustment controls and shows the matching lock icon.
    void applyLock(bool locked);
    void set_template_mode();
    void set_single_mode();

    // Tile drawing and preview, run by the clock.
    void showImage(QGraphicsView* view, const GraphicLayout& layout, std::shared_ptr<Image> image,
                   std::shared_ptr<ConfigFile> config);
    void handle_image_change();
    void updatePreview();

    // The image actions: the capture of the whole tile area as one composite image, and the clock's
    // auto-save step (Save once every tile of the template holds an image).
    std::shared_ptr<Image> grabScreen();
    void handle_autosave();
    // The outcome of one attempt at loading correction files.
    enum class LoadFilesStatus { InvalidFiles, Loaded };
    // The corrections exchange: when the sensor's corrections folder lacks its pair of correction
    // files, asks the user for the folder holding them until they load or the user gives up.
    void handle_calibration_dialog();
    // One attempt: the folder chooser, the check of the chosen folder, the copy into `correctionsFolder`
    // and the device's start.
    LoadFilesStatus loadCalibrartionFiles(const std::filesystem::path& correctionsFolder);

    // Read access for the source and for tests.
    const std::vector<std::shared_ptr<CusQGraphicsView>>& tileViews() const { return views; }
    int currentTemplate() const { return templateIndex; }
    bool isTemplateMode() const { return templateMode; }
    std::uint8_t currentRetakeState() const { return retakeState; }
    std::shared_ptr<ConfigFile> configuration() const { return configFile; }
    // The tile whose image the preview shows, or -1 when it shows none.
    int previewTile() const { return previewValid && previewShown ? previewIndex : -1; }
    const Ui::twaindialog& form() const { return ui; }
    // Save or a close handed the dialog's outcome to the source: the clock neither draws nor saves
    // until the dialog is shown again.
    bool isHandedOver() const { return handedOver; }
    // The line that tells the dentist of exposures that found no tile.
    const QLabel* heldNoticeLabel() const { return heldNotice; }
    // The form's widgets at their designed places; the dialog shows them through a scroll area
    // when the screen is smaller than the design.
    QWidget* content() const { return contentWidget; }
    // Sizes the dialog to the screen's available area (at most its designed size) and moves it,
    // frame included, inside that area.
    void fitToScreen();

signals:
    void isConnected(bool connected);

public slots:
    void handleButton();
    void retakeImage();
    void rotate();
    void rotateCCW();
    void flip_vert();
    void flip_hori();
    void settingsPopup();
    void contrastSliderValueChanged(int value);
    void brightnessSliderValueChanged(int value);
    void gammaSliderValueChanged(int value);
    void layoutChanged(int index);
    void handleFlicker();
    void autoSaveToggled(bool checked);
    void HDToggled(bool checked);
    void UltraHDToggled(bool checked);
    void contrastBrightnessResetButton();
    void connectionChange(bool connected);
    void settingsFinished(int result);
    void lockImageParamHandler();
    void brightvalueChange();
    void contrastChange();
    void gammaChange();

    // Esc and every other rejection close the dialog like its window's close button, so that the
    // close request reaches the source.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    Ui::twaindialog ui;

    std::vector<std::shared_ptr<CusQGraphicsView>> views;
    std::unique_ptr<TwainSettings> settingsDialog;
    std::shared_ptr<UIState> uiState;
    std::shared_ptr<IndexHandler> indexHandler;
    std::shared_ptr<Retaker> retaker;
    // 0 no retake possible, 1 the selected tile has an image (Re-take enabled), 2 a retake waits
    // for the next exposure.
    std::uint8_t retakeState = 0;
    std::shared_ptr<ImageHolder> imageHolder;
    std::shared_ptr<ChangeData> changeData;
    std::shared_ptr<QTimer> flickerTimer;
    // The tile whose image the preview shows, and the preview's bookkeeping.
    std::int8_t previewIndex = -1;
    bool previewShown = false;
    bool previewIsCurrent = false;
    bool previewValid = false;
    int templateIndex = 0;
    // Read from the configuration file by the first operation that needs it when none was given.
    std::shared_ptr<ConfigFile> configFile;
    std::shared_ptr<CalibrartionHandler> calibrationHandler;
    // True: the template chooser is shown; false: single-image mode.
    bool templateMode = false;

    std::vector<GraphicLayout> singleImageLayout;
    std::vector<GraphicLayout> biteswingLayout;
    std::vector<GraphicLayout> checkupLayout;
    std::vector<GraphicLayout> endoHorizontalLayout;
    std::vector<GraphicLayout> fullMouth18Layout;
    std::vector<GraphicLayout> fullMouth21Layout;
    std::vector<GraphicLayout> verticalEndoLayout;

    // The clock's tick is running: a modal box opened from it turns a nested event loop in which the
    // clock fires again, and that tick must not start over.
    bool inFlicker = false;
    // Set by Save and by every close; cleared when the dialog is shown again. While set the clock
    // does nothing.
    bool handedOver = false;
    // Auto-save has run for the images now stored; armed again once a tile is empty.
    bool autoSaved = false;
    // Inside closeEvent: a rejection from there is the ordinary close handling.
    bool closing = false;

    // The optimized pictures of the images on show, so that the clock redraws them without
    // optimizing them again.
    OptimizedImageCache optimizedImages;

    // One adjustment slider with its value field and what its value changes.
    struct Adjustment {
        UIState::ActionCode action;
        QSlider* slider;
        QLineEdit* field;
        const char* changeText;
        const char* validIndexText;
        const char* finishText;
        std::function<void(int)> store; // slider position into ChangeData
        std::function<void(Image&)> copyToImage;
        std::function<void(ImagePreset&)> copyToPresets;
    };
    Adjustment brightnessAdjustment();
    Adjustment contrastAdjustment();
    Adjustment gammaAdjustment();
    void sliderChanged(const Adjustment& adjustment, int value);
    void fieldChanged(QLineEdit* field, QSlider* slider);
    // HD (false) or Ultra HD (true) for every stored image, new images and the configuration.
    void chooseUltraHd(bool ultraHd);
    // The image of the selected tile, or null.
    std::shared_ptr<Image> selectedImage() const;
    // A slider position as the whole percentage of its maximum that its value field shows.
    static QString percentText(int position, int maximum);
    // The selection handler installed as the IndexHandler's onChange.
    void onIndexChange(int previous, int selected);
    // The configuration record, read from the file when the dialog was given none.
    ConfigFile& config();
    // The number of tiles of the current template.
    std::size_t tileCount() const;
    // The stored images in tile order: a composite capture in front (left by a save that the
    // application has not taken) belongs to no tile and is left out.
    ImageHolder::Images tileImages() const;
    // Writes an action that only records what the user did; a pending close or save request stays.
    void recordAction(UIState::ActionCode code);
    // The rotate and flip buttons: records `code`, logs `text` and turns the selected image.
    void turnSelected(UIState::ActionCode code, const char* text, ImageTurn turn);
    // Re-take offered again: the button reads "Re-take", disabled, and no retake waits.
    void resetRetakeButton();

    // The form's widgets inside a scroll area, so that a small screen scrolls them.
    void wrapInScrollArea();
    QScrollArea* scrollArea = nullptr;
    QWidget* contentWidget = nullptr;
    // Places the dialog again once the window manager has framed it.
    QTimer* placementTimer = nullptr;
    // Exposures held for want of a free tile go to the free tiles there are; the notice tells of
    // the rest.
    void placeHeldExposures();
    QLabel* heldNotice = nullptr;
    // The user closes (Esc or the window's close button) with images not handed over: true when
    // the user answers Yes.
    bool confirmClose();
};
