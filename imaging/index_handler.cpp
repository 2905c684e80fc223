#include "imaging/index_handler.h"

void IndexHandler::select_index(signed char index, bool force) {
    LogRecord log; // written once the lock is released
    std::lock_guard lock(mutex_);
    selectLocked(index, force, log);
}

void IndexHandler::selectLocked(signed char index, bool force, LogRecord& log) {
    const int limit = upperLimit;
    log << "selected index " << static_cast<int>(index) << " upperLimit: " << limit << '\n';
    const signed char old = selected;
    if (force) {
        previous = old;
        selected = index;
    } else if (index == old) {
        selected = -1;
        previous = index;
    }
}

void IndexHandler::set_selected(unsigned char index) {
    LogRecord log; // written once the lock is released
    set_selected(index, log);
}

void IndexHandler::set_selected(unsigned char index, LogRecord& log) {
    std::lock_guard lock(mutex_);
    const int limit = upperLimit;
    log << "setSelected index " << static_cast<unsigned>(index) << " upperLimit: " << limit << '\n';
    if (static_cast<int>(index) < limit) {
        selectLocked(static_cast<signed char>(index), true, log);
    }
}

void IndexHandler::reset(signed char tileCount) {
    std::lock_guard lock(mutex_);
    upperLimit = tileCount;
    selected = -1;
    previous = -1;
}

IndexHandler::Selection IndexHandler::current() const {
    std::lock_guard lock(mutex_);
    return {selected, previous, upperLimit};
}
