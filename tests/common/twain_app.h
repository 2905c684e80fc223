// A small TWAIN application over the stand-in DSM, for tests that play the host.
#pragma once

#include "source/twpp/twain.h"

#include <string>
#include <utility>
#include <vector>

class TwainApp {
public:
    explicit TwainApp(const std::string& name = "Test Application");
    ~TwainApp();
    TwainApp(const TwainApp&) = delete;
    TwainApp& operator=(const TwainApp&) = delete;

    TW_UINT16 openDsm();
    TW_UINT16 closeDsm();
    TW_UINT16 openSource(const std::string& productName = "Vanto Sensor Twain");
    TW_UINT16 closeSource();
    // Registers a callback that records the source's notifications in `notifications`.
    TW_UINT16 registerCallback();

    // A triplet addressed to the open source.
    TW_UINT16 call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
    // A triplet addressed to the DSM itself.
    TW_UINT16 dsm(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void* data);
    // Sets a one-value capability; returns the return code and the condition code.
    std::pair<TW_UINT16, TW_UINT16> setOne(TW_UINT16 id, TW_UINT16 type, TW_UINT32 value);
    // The source's condition code of the previous call (DAT_STATUS).
    TW_UINT16 sourceCondition();

    TW_IDENTITY& identity() { return identity_; }
    TW_IDENTITY& source() { return source_; }
    bool sourceOpen() const { return sourceOpen_; }

    std::vector<TW_UINT16> notifications;

private:
    TW_IDENTITY identity_{};
    TW_IDENTITY source_{};
    bool dsmOpen_ = false;
    bool sourceOpen_ = false;
};
