// The lock that serialises the data source's module: every DS_Entry call holds it, and the
// user-interface thread takes it to move an instance's state when it posts a notification.
//
// It is recursive for the thread that holds it, because an application may call DS_Entry again
// from the callback through which the source notifies it. Before the source posts a notification
// it releases the lock completely (Released), so that an application whose callback hands the work
// to another thread and waits for it never waits on this lock.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace Twpp {

class EntryLock {
public:
    static EntryLock& instance() {
        static EntryLock lock;
        return lock;
    }

    // The thread that runs the tasks of DS_Entry calls (the user-interface thread) may itself have to
    // wait for this lock: an application calls in from its callback while another of its threads,
    // inside DS_Entry, waits for such a task. `serve`, called on the waiting thread whenever it is
    // woken, runs what is queued for it when it is that thread, and answers false when it should
    // stop waiting (the thread is told to end); `nudge` wakes the waiters after something was queued.
    using Serve = bool (*)();
    void setServe(Serve serve) {
        std::lock_guard guard(mutex_);
        serve_ = serve;
    }
    void nudge() {
        std::lock_guard guard(mutex_);
        ++nudges_;
        free_.notify_all();
    }

    void lock() { acquire(false); }

    // As lock, but gives up when the serve function says so: false, and the lock is not held.
    bool lockServing() { return acquire(true); }

    bool try_lock() {
        std::lock_guard guard(mutex_);
        if (depth_ != 0 && owner_ != std::this_thread::get_id()) {
            return false;
        }
        owner_ = std::this_thread::get_id();
        ++depth_;
        return true;
    }

    void unlock() {
        std::lock_guard guard(mutex_);
        if (depth_ == 0 || owner_ != std::this_thread::get_id()) {
            return;
        }
        if (--depth_ == 0) {
            owner_ = std::thread::id();
            free_.notify_all();
        }
    }

    bool heldByThisThread() const {
        std::lock_guard guard(mutex_);
        return depth_ != 0 && owner_ == std::this_thread::get_id();
    }

    // While it lives, this thread holds none of the lock it held before; the same depth is taken
    // again at its end.
    class Released {
    public:
        Released() : lock_(EntryLock::instance()) {
            std::lock_guard guard(lock_.mutex_);
            if (lock_.depth_ != 0 && lock_.owner_ == std::this_thread::get_id()) {
                depth_ = lock_.depth_;
                lock_.depth_ = 0;
                lock_.owner_ = std::thread::id();
                lock_.free_.notify_all();
            }
        }
        ~Released() {
            if (depth_ == 0) {
                return;
            }
            lock_.acquire(false, depth_);
        }
        Released(const Released&) = delete;
        Released& operator=(const Released&) = delete;

    private:
        EntryLock& lock_;
        unsigned depth_ = 0;
    };

private:
    EntryLock() = default;

    // Takes the lock at `depth` (one more level when this thread holds it). Meanwhile the serve
    // function runs whenever the waiter is woken; with `mayGiveUp` its false ends the wait.
    bool acquire(bool mayGiveUp, unsigned depth = 1) {
        std::unique_lock guard(mutex_);
        if (owner_ == std::this_thread::get_id() && depth_ != 0) {
            depth_ += depth;
            return true;
        }
        while (depth_ != 0) {
            if (const Serve serve = serve_) {
                const unsigned seen = nudges_;
                guard.unlock();
                const bool goOn = serve();
                guard.lock();
                if (!goOn && mayGiveUp) {
                    return false;
                }
                free_.wait(guard, [&] { return depth_ == 0 || nudges_ != seen; });
            } else {
                free_.wait(guard, [this] { return depth_ == 0; });
            }
        }
        owner_ = std::this_thread::get_id();
        depth_ = depth;
        return true;
    }

    // `mutex_` guards every member below; `free_` is signalled when the depth falls to 0 and by
    // nudge.
    mutable std::mutex mutex_;
    std::condition_variable free_;
    std::thread::id owner_;
    unsigned depth_ = 0;
    Serve serve_ = nullptr;
    unsigned nudges_ = 0;
};

} // namespace Twpp
