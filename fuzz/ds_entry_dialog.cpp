// The shared state of the DS_Entry fuzz target, its callback, and the reach into the dialog.
#include "fuzz/ds_entry_context.h"
#include "ui/acquisition_dialog_lookup.h"

#include <QtWidgets/QAbstractButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>
#include <QtWidgets/QGraphicsScene>
#include <QtWidgets/QGraphicsView>
#include <QtWidgets/QMessageBox>

#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace dsfuzz {

namespace fs = std::filesystem;

fs::path root;
bool tracing = false;
DSENTRYPROC sourceEntry = nullptr;
TW_ENTRYPOINT memory{};

namespace {

// The work done inside a notification; guarded by insideMutex, which is held while it runs.
std::recursive_mutex insideMutex;
std::function<void(TW_UINT16)> inside;

// The notifications the source posted to the application's callback; guarded by notesMutex.
std::mutex notesMutex;
std::vector<TW_UINT16> notes;

} // namespace

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

fs::path appData() {
    return root / "appdata";
}

sensorbus::Bus bus() {
    return sensorbus::Bus(root / "bus");
}

TW_UINT16 TW_CALLINGSTYLE onNotification(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg,
                                         TW_MEMREF) {
    {
        std::lock_guard working(insideMutex);
        if (inside) {
            inside(msg);
        }
    }
    std::lock_guard lock(notesMutex);
    notes.push_back(msg);
    return TWRC_SUCCESS;
}

void setInside(std::function<void(TW_UINT16)> work) {
    std::lock_guard working(insideMutex);
    inside = std::move(work);
}

std::size_t noteCount() {
    std::lock_guard lock(notesMutex);
    return notes.size();
}

void clearNotes() {
    std::lock_guard lock(notesMutex);
    notes.clear();
}

QDialog* acquisitionDialog() {
    return ui::findAcquisitionDialog();
}

bool dialogShown() {
    bool shown = false;
    onDialogThread([&] { shown = acquisitionDialog() != nullptr && acquisitionDialog()->isVisible(); });
    return shown;
}

int drawnTiles() {
    int drawn = 0;
    onDialogThread([&] {
        if (QDialog* dialog = acquisitionDialog(); dialog != nullptr && dialog->isVisible()) {
            if (QWidget* tiles = dialog->findChild<QWidget*>("widget")) {
                for (auto* view : tiles->findChildren<QGraphicsView*>()) {
                    drawn +=
                        view->isVisible() && view->scene() != nullptr && !view->scene()->items().isEmpty();
                }
            }
        }
    });
    return drawn;
}

void answerPrompt(bool yes) {
    onDialogThread([yes] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || ui::isAcquisitionDialog(modal)) {
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            if (QAbstractButton* button = box->button(yes ? QMessageBox::Yes : QMessageBox::No)) {
                button->click();
                return;
            }
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        }
    });
}

void press(const char* button, bool yes) {
    onDialogThreadAnswering(
        [button] {
            if (QDialog* dialog = acquisitionDialog(); dialog != nullptr && dialog->isVisible()) {
                if (auto* found = dialog->findChild<QAbstractButton*>(button)) {
                    found->click();
                }
            }
        },
        yes);
}

} // namespace dsfuzz
