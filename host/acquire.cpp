// The acquisition: the DSM, the source, its dialog (scripted in a demo), the transfers.
#include "host/acquire.h"

#include "host/demo.h"
#include "host/image_files.h"
#include "host/locations.h"
#include "host/twain_session.h"
#include "platform/app_window.h"

#include <QtCore/QByteArray>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace host {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* kSourceFolderVariable = "OSTRA_TWAIN_DS_FOLDER";

int fail(std::ostream& err, const std::string& message, int status = kExitFailure) {
    err << "ostra-acquire: " << message << std::endl;
    return status;
}

bool displayAvailable() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

int runAcquire(const Options& options, std::ostream& out, std::ostream& err, const std::atomic<bool>& stop) {
    if (options.help) {
        out << usageText();
        return 0;
    }
    std::optional<int> demoTemplate;
    if (options.demo) {
        demoTemplate = findTemplate(*options.demo);
        if (!demoTemplate) {
            return fail(err, "no template named \"" + *options.demo + "\"\n" + usageText(), kExitUsage);
        }
    }

    // The stand-in DSM searches the data sources installed or built with this program.
    const auto sources = twainFolder();
    if (!options.dsm && sources && qEnvironmentVariableIsEmpty(kSourceFolderVariable)) {
        qputenv(kSourceFolderVariable, QByteArray::fromStdString(sources->string()));
    }

    DemoFolders demo;
    if (demoTemplate) {
        if (!sources) {
            return fail(err,
                        "the data-source folder with the simulated sensor's product folders was not found");
        }
        if (!displayAvailable() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        if (std::string error =
                prepareDemo(*sources / "OstraSensor", options.demoFolder, options.newSensor, demo);
            !error.empty()) {
            return fail(err, error);
        }
        out << "Demo folder: " << demo.root.string() << std::endl;
    }

    fs::path folder = options.out ? *options.out : demoTemplate ? demo.root / "images" : fs::current_path();
    if (!options.list) {
        if (std::string error = checkWritableFolder(folder); !error.empty()) {
            return fail(err, error);
        }
        folder = fs::absolute(folder);
    }

    const std::optional<fs::path> dsm = options.dsm ? options.dsm : defaultDsm();
    if (!dsm) {
        return fail(err, "no DSM found beside this program; name one with --dsm PATH");
    }
    // The application's own window (Windows): the parent of the source's dialog, whose messages
    // the loop passes to the source in --events process.
    struct Window {
        platform::NativeWindow handle = platform::createApplicationWindow("ostra-acquire");
        ~Window() { platform::destroyApplicationWindow(handle); }
    } window;
    if (options.events == EventStyle::process) {
        // Said before the source is loaded: its dialog then turns in this thread's message loop,
        // as on Windows, instead of on a thread of its own.
        platform::announceApplicationTurnsSourceEvents();
    }
    TwainSession session;
    session.setParentWindow(window.handle);
    if (std::string error = session.loadDsm(*dsm); !error.empty()) {
        return fail(err, error);
    }
    if (std::string error = session.openDsm(); !error.empty()) {
        return fail(err, error);
    }
    if (options.refuseFirstXferReady && !session.refuseXferReady(false)) {
        return fail(
            err, "--refuse-first-xferready needs the stand-in DSM; " + dsm->string() + " has no such switch",
            kExitUsage);
    }
    if (options.list) {
        std::vector<SourceListing> listed;
        if (std::string error = session.listSources(listed); !error.empty()) {
            return fail(err, error);
        }
        for (const auto& source : listed) {
            out << source.productName << " (" << source.manufacturer << ", " << source.version << ")"
                << std::endl;
        }
        if (listed.empty()) {
            out << "No data sources found" << std::endl;
        }
        return 0;
    }

    std::vector<SavedImage> saved;
    session.workInCallback(options.inCallback, folder, options.bufferRows, saved, out);
    for (const std::string& error : {session.openSource(options.source), session.negotiate(options.mechanism),
                                     session.enable(options.events)}) {
        if (!error.empty()) {
            return fail(err, error);
        }
    }

    if (demoTemplate) {
        DemoDriver driver(demo, stop);
        if (options.events == EventStyle::process) {
            driver.setIdle([&session] { session.turnEvents(); });
        }
        DemoRun run;
        run.tiles = templateTiles(*demoTemplate);
        run.screenshot = options.screenshot;
        if (options.refuseFirstXferReady) {
            run.refuseXferReady = [&session](bool refuse) { session.refuseXferReady(refuse); };
        }
        const std::vector<DemoStep> steps = options.steps ? *options.steps : defaultSteps(run.tiles);
        const auto exposures = std::count_if(steps.begin(), steps.end(), [](const DemoStep& step) {
            return step.kind == DemoStep::Kind::expose;
        });
        out << "Acquiring " << templateName(*demoTemplate) << ": " << exposures
            << (exposures == 1 ? " exposure" : " exposures") << std::endl;
        std::string error = driver.waitForDialog();
        if (error.empty() && options.newSensor) {
            error = driver.answerCorrections(out);
        }
        if (error.empty()) {
            error = driver.chooseTemplate(*demoTemplate);
        }
        if (error.empty()) {
            error = driver.runSteps(steps, run, out);
        }
        if (stop) {
            session.shutDown();
            return fail(err, "interrupted; the source is closed", kExitInterrupted);
        }
        if (!error.empty()) {
            return fail(err, error);
        }
    } else {
        out << "Waiting for images from \"" << options.source << "\": expose, then press Save in its dialog "
            << "(Ctrl-C stops)" << std::endl;
    }

    // A demo saves at once; a person at the dialog takes as long as needed.
    const auto patience = demoTemplate ? std::chrono::milliseconds(120s) : std::chrono::milliseconds(24h);
    for (;;) {
        const TW_UINT16 msg = session.waitNotification(stop, patience);
        if (msg == MSG_XFERREADY && options.inCallback == InCallback::nothing) {
            if (std::string error = session.transferAll(folder, options.bufferRows, saved, out);
                !error.empty()) {
                return fail(err, error);
            }
        } else if (msg == MSG_XFERREADY) {
            // Transferred inside the notification; closed there too, or by the close request to come.
            if (session.closedInCallback() || !session.callbackError().empty()) {
                break;
            }
        } else if (msg == MSG_CLOSEDSREQ) {
            break;
        } else if (stop) {
            session.shutDown();
            return fail(err, "interrupted; the source is closed", kExitInterrupted);
        } else {
            return fail(err, "the source sent no images in time");
        }
    }
    session.shutDown();
    if (std::string error = session.callbackError(); !error.empty()) {
        return fail(err, error);
    }
    out << saved.size() << (saved.size() == 1 ? " image" : " images") << " saved in " << folder.string()
        << std::endl;
    return 0;
}

} // namespace host
