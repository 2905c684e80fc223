// The corrections exchange of the acquisition dialog: when the detector refused to start for want of
// its correction files, the user is asked for the folder holding them (the sensor's calibration
// disk); they are checked, copied into the sensor's corrections folder and the sensor is started
// again, until it starts or the user gives up.
#include "ui/twaindialog.h"

#include "device/calibration_handler.h"
#include "support/log.h"

#include <QtCore/QDir>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>

#include <exception>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const kMessageBoxStyle = "background-color: rgb(255,255,255);";

bool isOffsetFile(const fs::path& path) {
    return path.extension() == ".dft";
}

bool isGainFile(const fs::path& path) {
    return path.extension() == ".gn";
}

// The corrections folder holds its pair: a ".dft" and a ".gn" file. A folder that cannot be read
// does not.
bool holdsCorrectionPair(const fs::path& folder) {
    bool offset = false;
    bool gain = false;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) {
            continue;
        }
        offset = offset || isOffsetFile(it->path());
        gain = gain || isGainFile(it->path());
    }
    return offset && gain;
}

std::string errorText(const std::error_code& ec) {
    return std::string(ec.category().name()) + ":" + std::to_string(ec.value());
}

QMessageBox::StandardButton ask(QWidget* parent, const char* text, QMessageBox::StandardButtons buttons,
                                QMessageBox::StandardButton defaultButton) {
    QMessageBox box(QMessageBox::NoIcon, "Ostra", text, buttons, parent,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.setDefaultButton(defaultButton);
    box.setStyleSheet(kMessageBoxStyle);
    for (QAbstractButton* button : box.buttons()) {
        button->setStyleSheet(kMessageBoxStyle);
    }
    box.setModal(true);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

void twaindialog::handle_calibration_dialog() {
    if (!calibrationHandler) {
        return;
    }
    const fs::path folder = calibrationHandler->currentWorkFolder() / "Correct" / "Default";
    // Only a complete pair makes the question unnecessary: stray or half-copied files must not keep
    // the user from ever being asked again.
    if (holdsCorrectionPair(folder)) {
        return;
    }
    writeString2("handle_calibration_dialog 1");
    ask(this, "Please select the device calibration files.", QMessageBox::Ok, QMessageBox::Ok);
    for (;;) {
        if (loadCalibrartionFiles(folder) == LoadFilesStatus::Loaded) {
            return;
        }
        if (ask(this, "Invalid calibrartion files, device cannot start. Try Again?",
                QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes) {
            calibrationHandler->acknowledgeStatus();
            return;
        }
    }
}

twaindialog::LoadFilesStatus twaindialog::loadCalibrartionFiles(const fs::path& correctionsFolder) {
    writeString2("loadCalibrartionFiles 1");
    // Parented to the dialog, so that it opens in front of it (and of the host application).
    const QString chosenText =
        QFileDialog::getExistingDirectory(this, "Select Corrections Folder", QDir::homePath(),
                                          QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    writeString2("loadCalibrartionFiles 2");
    if (chosenText.isEmpty()) {
        writeString2("No Input");
        return LoadFilesStatus::InvalidFiles;
    }
    writeString2("loadCalibrartionFiles 3");
    writeString2("correctPath " + correctionsFolder.string());

    try {
        const fs::path chosen(chosenText.toStdWString());
        std::error_code ec;
        const bool created = fs::create_directories(correctionsFolder, ec);
        if (!created && !fs::is_directory(correctionsFolder, ec)) {
            writeString2("directory couldn't be created");
            return LoadFilesStatus::InvalidFiles;
        }

        // The whole chosen folder is checked before anything is copied: a bad choice leaves the
        // corrections folder as it was.
        std::vector<fs::path> files;
        bool offset = false;
        bool gain = false;
        std::error_code openError;
        fs::directory_iterator it(chosen, openError);
        if (!openError) {
            for (const fs::directory_iterator end; it != end; ++it) {
                const fs::path& path = it->path();
                writeString2("from " + path.string());
                writeString2("ext: " + path.extension().string());
                std::error_code typeError;
                const bool file = it->is_regular_file(typeError);
                if (!file || (!isOffsetFile(path) && !isGainFile(path))) {
                    return LoadFilesStatus::InvalidFiles;
                }
                if (files.size() > 2) {
                    return LoadFilesStatus::InvalidFiles;
                }
                offset = offset || isOffsetFile(path);
                gain = gain || isGainFile(path);
                files.push_back(path);
            }
        } else {
            writeString2("dir iter error code: " + errorText(openError));
        }
        const std::size_t n = files.size();
        writeLog([&](std::ofstream& out) {
            out << "loadCalibrartionFiles 4: " << n << " def: " << (offset ? 1 : 0)
                << " gn: " << (gain ? 1 : 0) << std::endl;
        });
        if ((n != 2 && n != 3) || !offset || !gain) {
            return LoadFilesStatus::InvalidFiles;
        }

        // Copies of an earlier attempt are replaced. A file that fails to copy is left to the
        // device's start to judge.
        for (const fs::path& file : files) {
            std::error_code copyError;
            fs::copy_file(file, correctionsFolder / file.filename(), fs::copy_options::overwrite_existing,
                          copyError);
            if (copyError) {
                writeString2("error code: " + errorText(copyError));
            }
        }
        writeString2("loadCalibrartionFiles 5");
        return calibrationHandler->reinitDevice() ? LoadFilesStatus::Loaded : LoadFilesStatus::InvalidFiles;
    } catch (const std::exception& error) {
        writeString2(std::string("loadCalibrartionFiles error: ") + error.what());
        return LoadFilesStatus::InvalidFiles;
    }
}
