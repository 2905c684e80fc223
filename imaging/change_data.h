// The adjustment values last chosen in the acquisition dialog.
#pragma once

#include <cstdint>
#include <optional>

// Written by the dialog's slider handlers and emptied by the source when it closes; both run on the
// application's thread, so the record carries no lock and must not be handed to another thread.
struct ChangeData {
    std::optional<double> contrast;
    std::optional<std::int32_t> brightness;
    std::optional<double> gamma;

    void clear() {
        contrast.reset();
        brightness.reset();
        gamma.reset();
    }
};
