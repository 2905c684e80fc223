// The one-byte record through which the dialog tells the source what the user did last.
#pragma once

#include <atomic>
#include <cstdint>

struct UIState {
    // The codes stored in `action`. Only Nothing, CloseRequested and ImagesReady make the source act;
    // the others only record the user's last action.
    enum ActionCode : std::uint8_t {
        Nothing = 0,
        CloseRequested = 1,
        ImagesReady = 2,
        Retake = 3,
        Rotate = 4,
        FlipVertical = 5,
        FlipHorizontal = 6,
        RotateCounterClockwise = 7,
        ContrastChanged = 8,
        BrightnessChanged = 9,
        AdjustmentsReset = 10,
        GammaChanged = 11,
    };

    // Atomic, so that any thread may read or write it; the source takes and clears a request in one
    // step with `action.exchange(Nothing)`.
    std::atomic<std::uint8_t> action{Nothing};
};
