// The tiles whose image the next exposures replace, first in first out.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <set>

// Threads: the dialog queues and cancels retakes on the application's thread; the detector's
// callback thread takes them. `mutex_` guards `queue_` and `pending_`, which always hold the same
// members; every operation is atomic with respect to the others.
class Retaker {
public:
    // Queues `index` unless it is already waiting.
    void addRetake(int index);
    // Removes and returns the index at the front, or nothing when none is waiting.
    std::optional<int> takeRetake();
    void reset();

    // The index the next exposure will replace, or nothing.
    std::optional<int> front() const;
    bool empty() const;

private:
    mutable std::mutex mutex_;
    std::deque<int> queue_;
    std::set<int> pending_;
};
