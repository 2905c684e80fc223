// Where the acquisition dialog lives and its Qt events turn.
//
// Three cases, chosen at the first enable:
//  - the process already has a Qt application object (a Qt-based host): the dialog lives on that
//    object's thread, whose event loop belongs to the host; the source never creates or destroys
//    an application object;
//  - the platform's applications turn the source's events (Windows: their message loop sends
//    MSG_PROCESSEVENT): the source creates its application object on the caller's thread and
//    turns its events inside MSG_PROCESSEVENT;
//  - otherwise (Linux applications wait for the source's notifications and never pass their
//    events): a user-interface thread of the source's own turns the events, from the first enable
//    until the last close.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QCoreApplication;
class QObject;

class UiThread {
public:
    static UiThread& instance();
    ~UiThread();
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    // Chooses the case above (once, until stop) and starts the own thread when it is needed.
    void start();
    // Ends the own thread, if there is one; the next start chooses again. Called at the last close.
    // On the user-interface thread itself the thread is only told to end (it is joined later).
    void stop();

    // Runs `task` on the user-interface thread and waits for it; inline when called there. An
    // exception thrown by the task is thrown again here.
    void run(const std::function<void()>& task);
    // Queues `task` for the user-interface thread without waiting.
    void post(std::function<void()> task);
    // Runs `task` on the user-interface thread after `milliseconds`, while an application object
    // exists there.
    void postDelayed(int milliseconds, std::function<void()> task);

    bool isUiThread() const;
    // True when the source creates and destroys the Qt application object itself.
    bool createsApplication() const;
    // True when MSG_PROCESSEVENT must turn the Qt events (the application object lives on the
    // caller's thread and nobody else turns them).
    bool eventsTurnedByCaller() const;
    // Whether a Qt application object exists (readable from any thread).
    bool applicationExists() const;

    // On the user-interface thread: takes the application object the source created, and destroys
    // it again (also done when the own thread ends).
    // From now until the application object is destroyed, Qt's messages go to the log.
    void routeQtMessages();
    void adoptApplication(std::unique_ptr<QCoreApplication> application);
    void destroyApplication();
    // Runs the tasks queued for the caller's thread (the case where the caller turns the events).
    void runQueued();

private:
    UiThread() = default;
    enum class Mode { none, host, caller, ownThread };

    void loop();
    void wake();
    // Own thread only: cancels the questions the dialog has open (each turns an event loop of its
    // own, in which the queued tasks never run), so that a task the application waits for, or the
    // end of the thread, is reached. With mutex_ held.
    void dismissQuestionsLocked();
    // Runs the oldest queued task with `lock` (on mutex_) released meanwhile; false when none is queued.
    bool runOneQueued(std::unique_lock<std::mutex>& lock);

    // `mutex_` guards every member below; `changed_` is signalled when a task is queued or the
    // thread is told to stop.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    Mode mode_ = Mode::none;
    std::thread thread_;
    std::thread::id uiThreadId_;
    bool stopping_ = false;
    bool applicationAlive_ = false;
    // The application object the source created; touched only on the user-interface thread.
    std::unique_ptr<QCoreApplication> application_;
    bool routed_ = false;
    std::deque<std::function<void()>> tasks_;
    // Lives on the own thread while the application object exists; an event posted to it wakes
    // that thread's event processing so that the queued tasks run.
    QObject* waker_ = nullptr;
};
