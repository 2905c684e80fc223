// Where the acquisition dialog lives and its Qt events turn.
//
// Three cases, chosen at the first enable:
//  - the process already has a Qt application object (a Qt-based host): the dialog lives on that
//    object's thread, whose event loop belongs to the host; the source never creates or destroys
//    an application object;
//  - the application turns the source's events (Windows: always, its message loop sends
//    MSG_PROCESSEVENT; Linux: when it says so, see platform::applicationsTurnSourceEvents): the
//    source creates its application object on the caller's thread and turns its events inside
//    MSG_PROCESSEVENT;
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
    // The caller's application object still waiting for a safe point keeps the caller's mode until
    // it is destroyed.
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
    // The entry lock's serve function: on the user-interface thread, runs the queued tasks (those
    // that DS_Entry calls of other threads wait for while they hold the lock); false once the
    // thread is told to end. Elsewhere it does nothing and answers true.
    static bool serveWhileWaiting();
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
    // Destroys the application object now when no event loop of a question and no event processing
    // is on the stack, else at the next safe point (see collect).
    void destroyApplication();
    // Keeps the application object that waits for its destruction, for a new enable; false when
    // there is none.
    bool reuseApplication();
    // Runs the tasks queued for the caller's thread (the case where the caller turns the events),
    // then collects what waits for a safe point.
    void runQueued();

    // On the user-interface thread: takes `object` (the dialog, its host widget) out of use: hidden,
    // its signals cut and its timers stopped, its questions dismissed. It is destroyed at once when
    // none of its questions is open, else as soon as their event loops have returned. Objects go in
    // the order they are retired.
    void retire(std::unique_ptr<QObject> object);
    // On the user-interface thread: destroys what was retired, and the application object when its
    // destruction is pending and `topLevel` (no event processing of the source on the stack), if
    // the event loops of the questions have returned. True when nothing is left waiting.
    bool collect(bool topLevel);
    // Counts the source's own event processing on this thread (MSG_PROCESSEVENT), during which the
    // application object is never destroyed.
    class Turning {
    public:
        Turning();
        ~Turning();
        Turning(const Turning&) = delete;
        Turning& operator=(const Turning&) = delete;
    };

private:
    UiThread() = default;
    enum class Mode { none, host, caller, ownThread };

    void loop();
    // Whether the application's message loop turns the events (the platform's answer); an
    // unknown choice of the application is logged once. With mutex_ held.
    bool callerTurnsEvents();
    void wake();
    // Own thread only: cancels the questions the dialog has open (each turns an event loop of its
    // own, in which the queued tasks never run), and those it opens until the queued tasks have run,
    // so that a task the application waits for, or the end of the thread, is reached. With mutex_ held.
    void dismissQuestionsLocked();
    void destroyApplicationNow();
    // Retries collect a moment later, on the user-interface thread.
    void collectLater();
    // The event loop level at or below which the retired objects' code has returned.
    bool retiredCodeReturned() const;
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
    bool ignoredSettingLogged_ = false;
    // The caller's mode ends once its application object is destroyed (closed while the object
    // waited for a safe point).
    bool callerEnding_ = false;
    // The application object the source created; touched only on the user-interface thread.
    std::unique_ptr<QCoreApplication> application_;
    bool routed_ = false;
    std::deque<std::function<void()>> tasks_;
    // Lives on the own thread while the application object exists; an event posted to it wakes
    // that thread's event processing so that the queued tasks run.
    QObject* waker_ = nullptr;

    // Touched only on the user-interface thread: the objects retired and not yet destroyed, the
    // event loop level of the code that retired them less the questions then open, the application
    // object's pending destruction, and the depth of the source's own event processing.
    std::deque<std::unique_ptr<QObject>> retired_;
    int retiredLevel_ = 0;
    bool destroyPending_ = false;
    int turning_ = 0;
    bool collectScheduled_ = false;
};
