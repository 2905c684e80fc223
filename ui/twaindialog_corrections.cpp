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

// A correction file set aside while the detector tries the newly copied ones.
const char* const kSetAsideSuffix = ".previous";

// The chooser is parented to the dialog, whose black style sheet would reach every widget in it:
// its own light style sheet keeps its lists and typed text readable.
const char* const kChooserStyle =
    "background-color: rgb(255,255,255); color: rgb(0,0,0); "
    "selection-background-color: rgb(48,140,198); selection-color: rgb(255,255,255);";

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
    QFileDialog chooser(this, "Select Corrections Folder", QDir::homePath());
    chooser.setObjectName("correctionsChooser");
    chooser.setFileMode(QFileDialog::Directory);
    chooser.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    chooser.setStyleSheet(kChooserStyle);
    QString chosenText;
    if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) {
        chosenText = chooser.selectedFiles().constFirst();
    }
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
        const bool correctExisted = fs::exists(correctionsFolder.parent_path(), ec);
        const bool folderExisted = fs::exists(correctionsFolder, ec);
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

        // A file of the same name already there is set aside, so that files the detector refuses
        // leave the folder as it was. A file that fails to copy is left to the device's start to judge.
        std::vector<std::pair<fs::path, bool>> copied; // target, whether an older file was set aside
        for (const fs::path& file : files) {
            const fs::path target = correctionsFolder / file.filename();
            std::error_code setAside;
            const bool older = fs::exists(target, setAside);
            if (older) {
                fs::rename(target, fs::path(target) += kSetAsideSuffix, setAside);
            }
            std::error_code copyError;
            fs::copy_file(file, target, fs::copy_options::overwrite_existing, copyError);
            if (copyError) {
                writeString2("error code: " + errorText(copyError));
            }
            copied.emplace_back(target, older && !setAside);
        }
        writeString2("loadCalibrartionFiles 5");
        const bool started = calibrationHandler->reinitDevice();
        for (const auto& [target, older] : copied) {
            std::error_code restore;
            if (!started) {
                fs::remove(target, restore);
                if (older) {
                    fs::rename(fs::path(target) += kSetAsideSuffix, target, restore);
                }
            } else if (older) {
                fs::remove(fs::path(target) += kSetAsideSuffix, restore);
            }
        }
        if (!started) {
            writeString2("correction files refused: corrections folder restored");
            std::error_code restore;
            if (!folderExisted) {
                fs::remove(correctionsFolder, restore); // only when empty
            }
            if (!correctExisted) {
                fs::remove(correctionsFolder.parent_path(), restore);
            }
        }
        return started ? LoadFilesStatus::Loaded : LoadFilesStatus::InvalidFiles;
    } catch (const std::exception& error) {
        writeString2(std::string("loadCalibrartionFiles error: ") + error.what());
        return LoadFilesStatus::InvalidFiles;
    }
}
