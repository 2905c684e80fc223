#include "imaging/index_handler.h"

#include "support/log.h"

void IndexHandler::select_index(signed char index, bool force) {
    std::lock_guard lock(mutex_);
    selectLocked(index, force);
}

void IndexHandler::selectLocked(signed char index, bool force) {
    const int limit = upperLimit;
    writeLog([index, limit](std::ofstream& out) {
        out << "selected index " << static_cast<int>(index) << " upperLimit: " << limit << std::endl;
    });
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
    std::lock_guard lock(mutex_);
    const int limit = upperLimit;
    writeLog([index, limit](std::ofstream& out) {
        out << "setSelected index " << static_cast<unsigned>(index) << " upperLimit: " << limit << std::endl;
    });
    if (static_cast<int>(index) < limit) {
        selectLocked(static_cast<signed char>(index), true);
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
