// Which tile of the acquisition dialog is selected, which one was selected before, and how many
// tiles the current template has.
#pragma once

#include "support/log.h"

#include <atomic>
#include <functional>
#include <mutex>

// Threads: the detector's callback thread moves the selection (through ImageHolder::addImage) while
// the dialog reads and changes it on the application's thread.
// - `selected`, `previous`, `upperLimit` are atomics: any thread may read one of them at any time.
//   Every change made by the operations below happens under `mutex_`, so `current()` returns the
//   three values as one consistent set. Callers change them through these operations (a single
//   direct store, such as `selected = -1`, is safe but not ordered with a concurrent operation).
// - `onChange` is installed and invoked by the dialog only, on the application's thread; the
//   operations here never invoke it.
// Lock order: ImageHolder's lock may be held while this one is taken, never the other way round.
// Log lines are built under the lock and written after it is released, so that no reader waits on
// the disk.
class IndexHandler {
public:
    std::atomic<signed char> selected{-1};
    std::atomic<signed char> previous{-1};
    // Number of tiles of the current template, compared as a signed value.
    std::atomic<signed char> upperLimit{1};
    std::function<void(char previous, char selected)> onChange;

    struct Selection {
        signed char selected;
        signed char previous;
        signed char upperLimit;
    };

    // With force: `index` becomes the selection. Without: a second click on the selected tile
    // deselects it; any other index changes nothing.
    void select_index(signed char index, bool force);
    // Selects `index` when it is below the tile count; an index at or past it is ignored.
    void set_selected(unsigned char index);
    // The same, adding its log lines to `log` (for a caller that writes them after its own lock).
    void set_selected(unsigned char index, LogRecord& log);
    // Template change or reset: `upperLimit` = tileCount and nothing selected, in one step.
    void reset(signed char tileCount);
    Selection current() const;

private:
    mutable std::mutex mutex_;
    void selectLocked(signed char index, bool force, LogRecord& log);
};
