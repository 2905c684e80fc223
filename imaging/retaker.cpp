#include "imaging/retaker.h"

void Retaker::addRetake(int index) {
    std::lock_guard lock(mutex_);
    if (pending_.insert(index).second) {
        queue_.push_back(index);
    }
}

std::optional<int> Retaker::takeRetake() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    const int index = queue_.front();
    queue_.pop_front();
    pending_.erase(index);
    return index;
}

void Retaker::reset() {
    std::lock_guard lock(mutex_);
    queue_.clear();
    pending_.clear();
}

std::optional<int> Retaker::front() const {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    return queue_.front();
}

bool Retaker::empty() const {
    std::lock_guard lock(mutex_);
    return queue_.empty();
}
