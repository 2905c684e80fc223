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

    void lock() {
        std::unique_lock guard(mutex_);
        if (owner_ == std::this_thread::get_id()) {
            ++depth_;
            return;
        }
        free_.wait(guard, [this] { return depth_ == 0; });
        owner_ = std::this_thread::get_id();
        depth_ = 1;
    }

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
            free_.notify_one();
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
                lock_.free_.notify_one();
            }
        }
        ~Released() {
            if (depth_ == 0) {
                return;
            }
            std::unique_lock guard(lock_.mutex_);
            lock_.free_.wait(guard, [this] { return lock_.depth_ == 0; });
            lock_.owner_ = std::this_thread::get_id();
            lock_.depth_ = depth_;
        }
        Released(const Released&) = delete;
        Released& operator=(const Released&) = delete;

    private:
        EntryLock& lock_;
        unsigned depth_ = 0;
    };

private:
    EntryLock() = default;

    // `mutex_` guards `owner_` and `depth_`; `free_` is signalled when the depth falls to 0.
    mutable std::mutex mutex_;
    std::condition_variable free_;
    std::thread::id owner_;
    unsigned depth_ = 0;
};

} // namespace Twpp
