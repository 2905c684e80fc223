#include "source/ui_thread.h"

#include "platform/host_window.h"
#include "source/twpp/entry_lock.h"
#include "source/ui_questions.h"
#include "support/log.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QEvent>
#include <QtCore/QEventLoop>
#include <QtCore/QMetaObject>
#include <QtCore/QThread>
#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QDialog>

#include <algorithm>
#include <exception>
#include <future>
#include <string>
#include <utility>

namespace {

// Qt's own messages go to the log while the source's application object exists, never to the
// host's standard streams.
void logQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    writeString("Qt: " + message.toStdString());
}

QtMessageHandler previousHandler = nullptr;

// How long a retired object waits before the next look at whether its code has returned.
constexpr int kCollectMilliseconds = 20;

} // namespace

UiThread& UiThread::instance() {
    static UiThread ui;
    return ui;
}

UiThread::~UiThread() {
    stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void UiThread::start() {
    std::unique_lock lock(mutex_);
    if (mode_ != Mode::none) {
        // An application object of the caller's that waits for its destruction is used again.
        callerEnding_ = false;
        return;
    }
    if (thread_.joinable()) {
        // An own thread told to end from within itself; it has left its loop or is about to.
        std::thread ended = std::move(thread_);
        lock.unlock();
        ended.join();
        lock.lock();
    }
    stopping_ = false;
    Twpp::EntryLock::instance().setServe(&UiThread::serveWhileWaiting);
    if (QCoreApplication::instance() != nullptr) {
        mode_ = Mode::host;
        applicationAlive_ = true;
        writeString("user interface on the host's application thread");
    } else if (callerTurnsEvents()) {
        mode_ = Mode::caller;
        uiThreadId_ = std::this_thread::get_id();
        writeString("user interface events turned by the application's message loop");
    } else {
        mode_ = Mode::ownThread;
        thread_ = std::thread([this] { loop(); });
        uiThreadId_ = thread_.get_id();
        writeString("user interface thread started");
    }
}

bool UiThread::callerTurnsEvents() {
    std::string ignored;
    const bool turns = platform::applicationsTurnSourceEvents(&ignored);
    if (!ignored.empty() && !ignoredSettingLogged_) {
        ignoredSettingLogged_ = true;
        writeString("OSTRA_TWAIN_EVENTS=" + ignored + " is neither process nor callback: ignored");
    }
    return turns;
}

void UiThread::stop() {
    std::unique_lock lock(mutex_);
    if (mode_ == Mode::caller && applicationAlive_) {
        // Closed after a disable from inside a question's event loop: the application object still
        // waits for a safe point. It goes now when this is one, else at the caller's next (the
        // MSG_PROCESSEVENT that the close came from, or the next enable); the mode lasts until
        // then, so that nobody takes the object for a host's.
        callerEnding_ = true;
        if (std::this_thread::get_id() != uiThreadId_) {
            return;
        }
        lock.unlock();
        destroyApplication();
        return;
    }
    const Mode mode = std::exchange(mode_, Mode::none);
    if (mode == Mode::host) {
        applicationAlive_ = false;
    }
    if (mode != Mode::ownThread) {
        return;
    }
    stopping_ = true;
    changed_.notify_all();
    if (waker_ != nullptr) {
        QCoreApplication::postEvent(waker_, new QEvent(QEvent::User));
    }
    dismissQuestionsLocked();
    if (std::this_thread::get_id() == uiThreadId_) {
        return; // joined by the next start or at unload
    }
    std::thread ending = std::move(thread_);
    lock.unlock();
    ending.join();
    writeString("user interface thread ended");
}

bool UiThread::isUiThread() const {
    std::lock_guard lock(mutex_);
    switch (mode_) {
    case Mode::host:
        return QCoreApplication::instance() != nullptr &&
               QThread::currentThread() == QCoreApplication::instance()->thread();
    case Mode::caller:
    case Mode::ownThread:
        return std::this_thread::get_id() == uiThreadId_;
    case Mode::none:
        return false;
    }
    return false;
}

bool UiThread::createsApplication() const {
    std::lock_guard lock(mutex_);
    return mode_ == Mode::caller || mode_ == Mode::ownThread;
}

bool UiThread::eventsTurnedByCaller() const {
    std::lock_guard lock(mutex_);
    return mode_ == Mode::caller || mode_ == Mode::host;
}

bool UiThread::applicationExists() const {
    std::lock_guard lock(mutex_);
    return applicationAlive_;
}

void UiThread::run(const std::function<void()>& task) {
    std::unique_lock lock(mutex_);
    const Mode mode = mode_;
    lock.unlock();
    if (mode == Mode::none || isUiThread()) {
        task();
        return;
    }
    std::exception_ptr failure;
    auto guarded = [&task, &failure] {
        try {
            task();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        auto runAndTell = [guarded, done]() mutable {
            guarded();
            done->set_value();
        };
        if (mode == Mode::host) {
            // Queued where the thread also finds it while it waits for the entry lock, and run by
            // the host's event loop otherwise.
            {
                std::lock_guard queue(mutex_);
                tasks_.push_back(std::move(runAndTell));
            }
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [] { UiThread::instance().serveWhileWaiting(); },
                Qt::QueuedConnection);
            Twpp::EntryLock::instance().nudge();
        } else {
            post(std::move(runAndTell));
        }
        if (mode == Mode::ownThread) {
            // The application enables or disables the dialog: a question the user left open gives way.
            std::lock_guard questions(mutex_);
            dismissQuestionsLocked();
        }
        finished.wait();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void UiThread::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        switch (mode_) {
        case Mode::host:
            QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
            return;
        case Mode::caller:
            tasks_.push_back(std::move(task));
            break;
        case Mode::ownThread:
            tasks_.push_back(std::move(task));
            wake();
            break;
        case Mode::none:
            return;
        }
    }
    // The user-interface thread may be waiting for the entry lock: it runs the task meanwhile.
    Twpp::EntryLock::instance().nudge();
}

bool UiThread::serveWhileWaiting() {
    UiThread& ui = instance();
    if (!ui.isUiThread()) {
        return true;
    }
    std::unique_lock lock(ui.mutex_);
    while (ui.runOneQueued(lock)) {
    }
    return !ui.stopping_;
}

void UiThread::postDelayed(int milliseconds, std::function<void()> task) {
    post([milliseconds, task = std::move(task)] {
        if (QCoreApplication::instance() != nullptr) {
            // The timer only queues the task: a timer fires inside any event loop, a question's
            // own included, while the queue runs where no code of the dialog is on the stack.
            QTimer::singleShot(milliseconds, QCoreApplication::instance(),
                               [task] { UiThread::instance().post(task); });
        }
    });
}

void UiThread::wake() {
    changed_.notify_all();
    if (waker_ != nullptr) {
        QCoreApplication::postEvent(waker_, new QEvent(QEvent::User));
    }
}

void UiThread::dismissQuestionsLocked() {
    if (waker_ == nullptr) {
        return;
    }
    // Queued calls are delivered by every event loop, a question's own included. A question so
    // cancelled answers as the user's No or Cancel would; so does every question the dialog opens
    // after it until the queued tasks have run.
    QMetaObject::invokeMethod(
        waker_,
        [this] {
            std::unique_lock lock(mutex_);
            if (tasks_.empty() && !stopping_) {
                return; // what the application waited for has run already
            }
            lock.unlock();
            uiquestions::startDismissing(true);
        },
        Qt::QueuedConnection);
}

void UiThread::retire(std::unique_ptr<QObject> object) {
    if (!object) {
        return;
    }
    const bool anyModal = createsApplication();
    // Its own code may be on the stack under the event loops of the questions open now.
    const int level = QThread::currentThread()->loopLevel() - uiquestions::openQuestions(anyModal);
    retiredLevel_ = retired_.empty() ? level : std::min(retiredLevel_, level);
    if (auto* dialog = qobject_cast<QDialog*>(object.get())) {
        QObject::disconnect(dialog, &QDialog::finished, nullptr, nullptr);
    }
    for (QTimer* timer : object->findChildren<QTimer*>()) {
        timer->stop();
    }
    if (object->isWidgetType()) {
        static_cast<QWidget*>(object.get())->hide();
    }
    retired_.push_back(std::move(object));
    if (!collect(false)) {
        writeString("user interface retired until its questions return");
        uiquestions::startDismissing(anyModal);
        collectLater();
    }
}

bool UiThread::retiredCodeReturned() const {
    return QThread::currentThread()->loopLevel() <= retiredLevel_;
}

bool UiThread::collect(bool topLevel) {
    if (!retired_.empty()) {
        if (!retiredCodeReturned()) {
            return false;
        }
        while (!retired_.empty()) {
            const std::unique_ptr<QObject> object = std::move(retired_.front());
            retired_.pop_front();
        }
    }
    if (destroyPending_) {
        if (!topLevel || turning_ != 0 || QThread::currentThread()->loopLevel() != 0) {
            return false;
        }
        destroyPending_ = false;
        destroyApplicationNow();
    }
    if (uiquestions::dismissing()) {
        std::unique_lock lock(mutex_);
        if (tasks_.empty()) {
            lock.unlock();
            uiquestions::stopDismissing();
        }
    }
    return true;
}

void UiThread::collectLater() {
    if (collectScheduled_ || QCoreApplication::instance() == nullptr) {
        return;
    }
    collectScheduled_ = true;
    QTimer::singleShot(kCollectMilliseconds, QCoreApplication::instance(), [this] {
        collectScheduled_ = false;
        if (!collect(false)) {
            collectLater();
        }
    });
}

UiThread::Turning::Turning() {
    ++UiThread::instance().turning_;
}

UiThread::Turning::~Turning() {
    --UiThread::instance().turning_;
}

void UiThread::routeQtMessages() {
    if (!routed_) {
        previousHandler = qInstallMessageHandler(logQtMessage);
        routed_ = true;
    }
}

void UiThread::adoptApplication(std::unique_ptr<QCoreApplication> application) {
    application_ = std::move(application);
    std::lock_guard lock(mutex_);
    applicationAlive_ = true;
    waker_ = new QObject();
}

void UiThread::destroyApplication() {
    destroyPending_ = true;
    if (!collect(true)) {
        writeString("user interface application object kept until its questions return");
        collectLater();
    }
}

bool UiThread::reuseApplication() {
    if (!destroyPending_ || !application_) {
        return false;
    }
    destroyPending_ = false;
    return true;
}

void UiThread::destroyApplicationNow() {
    uiquestions::stopDismissing();
    {
        std::lock_guard lock(mutex_);
        delete std::exchange(waker_, nullptr);
        if (mode_ != Mode::host) {
            applicationAlive_ = false;
        }
        if (std::exchange(callerEnding_, false)) {
            mode_ = Mode::none;
        }
    }
    // Its timers go with it.
    collectScheduled_ = false;
    application_.reset();
    if (routed_) {
        qInstallMessageHandler(previousHandler);
        previousHandler = nullptr;
        routed_ = false;
    }
}

bool UiThread::runOneQueued(std::unique_lock<std::mutex>& lock) {
    if (tasks_.empty()) {
        return false;
    }
    auto task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
    return true;
}

void UiThread::runQueued() {
    std::unique_lock lock(mutex_);
    while (runOneQueued(lock)) {
    }
    lock.unlock();
    if (turning_ == 0) {
        collect(true);
    }
}

void UiThread::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (runOneQueued(lock)) {
            continue;
        }
        if (stopping_) {
            break;
        }
        lock.unlock();
        collect(true);
        lock.lock();
        if (!tasks_.empty() || stopping_) {
            continue;
        }
        if (applicationAlive_) {
            lock.unlock();
            {
                const Turning turning;
                QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            }
            lock.lock();
        } else {
            changed_.wait(lock);
        }
    }
    lock.unlock();
    // A source closed without disabling its user interface still leaves no Qt object behind. No
    // event loop of the thread is on the stack any more.
    while (!retired_.empty()) {
        const std::unique_ptr<QObject> object = std::move(retired_.front());
        retired_.pop_front();
    }
    destroyPending_ = false;
    destroyApplicationNow();
}
